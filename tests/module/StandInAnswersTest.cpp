// The Task Scheduler stand-in answers what Windows answers where a client could tell.
#include "common/platform/Owners.h"
#include "tests/module/StandInRegistration.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// A definition the service accepts: one program to start.
ComPtr<ITaskDefinition> newStartingTask(ITaskService* service, const wchar_t* program)
{
    ComPtr<ITaskDefinition> definition;
    EXPECT_EQ(S_OK, service->NewTask(0, &definition));
    ComPtr<IActionCollection> actions;
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    UniqueBstr path(program);
    if (definition == nullptr || FAILED(definition->get_Actions(&actions)) ||
        FAILED(actions->Create(TASK_ACTION_EXEC, &action)) || FAILED(action.As(&exec)) ||
        FAILED(exec->put_Path(path.get()))) {
        ADD_FAILURE() << "cannot build a definition";
    }
    return definition;
}

HRESULT registerTask(ITaskFolder* folder, const wchar_t* name, ITaskDefinition* definition, LONG flags,
                     const wchar_t* account)
{
    UniqueBstr path(name);
    UniqueVariant user;
    user.setString(account);
    UniqueVariant password;
    UniqueVariant sddl;
    sddl.setString(L"");
    ComPtr<IRegisteredTask> registered;
    return folder->RegisterTaskDefinition(path.get(), definition, flags, user.get(), password.get(), TASK_LOGON_GROUP,
                                          sddl.get(), &registered);
}

std::wstring actionPathOf(const wchar_t* name)
{
    standin::Task task;
    return standin::loadTask(name, task) && !task.actions.empty() ? task.actions[0].path : L"<none>";
}

TEST_F(LogonStartTest, TheStandInAnswersAsTheTaskSchedulerService)
{
    ComPtr<ITaskService> service;
    ASSERT_EQ(S_OK,
              standin::createTaskService(__uuidof(ITaskService), reinterpret_cast<void**>(service.GetAddressOf())));
    ComPtr<ITaskFolder> folder;
    UniqueBstr root(L"\\");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED), service->GetFolder(root.get(), &folder));
    UniqueVariant none;
    ASSERT_EQ(S_OK, service->Connect(none.get(), none.get(), none.get(), none.get()));

    // No path and an empty one name the root folder as "\" does.
    UniqueBstr empty(L"");
    for (BSTR path : {static_cast<BSTR>(nullptr), empty.get(), root.get()}) {
        ComPtr<ITaskFolder> found;
        EXPECT_EQ(S_OK, service->GetFolder(path, &found));
        EXPECT_NE(nullptr, found.Get());
    }
    ASSERT_EQ(S_OK, service->GetFolder(nullptr, &folder));

    ComPtr<ITaskDefinition> refused;
    EXPECT_EQ(E_INVALIDARG, service->NewTask(1, &refused));
    EXPECT_EQ(nullptr, refused.Get());

    // The account must map to one the machine knows.
    const ComPtr<ITaskDefinition> first = newStartingTask(service.Get(), L"C:\\first.exe");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NONE_MAPPED),
              registerTask(folder.Get(), L"A", first.Get(), TASK_CREATE, L"No Such Group Anywhere"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NONE_MAPPED), registerTask(folder.Get(), L"A", first.Get(), TASK_CREATE, L""));
    EXPECT_TRUE(standin::taskNames().empty());

    // Update needs a task, validation registers nothing, and only an update replaces one.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              registerTask(folder.Get(), L"A", first.Get(), TASK_UPDATE, L"Administrators"));
    EXPECT_EQ(S_OK, registerTask(folder.Get(), L"A", first.Get(), TASK_VALIDATE_ONLY, L"Administrators"));
    EXPECT_TRUE(standin::taskNames().empty());
    EXPECT_EQ(S_OK, registerTask(folder.Get(), L"A", first.Get(), 0, L"Administrators"));
    const ComPtr<ITaskDefinition> second = newStartingTask(service.Get(), L"C:\\second.exe");
    for (LONG flags : {0L, static_cast<LONG>(TASK_CREATE)}) {
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                  registerTask(folder.Get(), L"A", second.Get(), flags, L"Administrators"));
    }
    EXPECT_EQ(L"C:\\first.exe", actionPathOf(L"A"));
    EXPECT_EQ(S_OK, registerTask(folder.Get(), L"A", second.Get(), TASK_UPDATE, L"Administrators"));
    EXPECT_EQ(L"C:\\second.exe", actionPathOf(L"A"));

    // Deleting no name deletes nothing.
    EXPECT_EQ(S_OK, registerTask(folder.Get(), L"B", first.Get(), TASK_CREATE, L"Administrators"));
    EXPECT_EQ(E_INVALIDARG, folder->DeleteTask(nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, folder->DeleteTask(empty.get(), 0));
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B"}), standin::taskNames());
}

}  // namespace
