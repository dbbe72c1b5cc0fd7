// The service side: the service object, the root folder, registered tasks and the class
// factory through which tarvel.exe reaches them.
#include "standin/taskscheduler/StandInObjects.h"

namespace standin {

const CLSID kTaskSchedulerClsid = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};

namespace {

// What the real service answers; not all of them are in the SDK's headers.
const HRESULT kServiceNotRunning = static_cast<HRESULT>(0x80041315);  // SCHED_E_SERVICE_NOT_RUNNING
const HRESULT kNotConnected = HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
const HRESULT kAccountNotMapped = HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
const HRESULT kMissingNode = static_cast<HRESULT>(0x80041319);  // SCHED_E_MISSINGNODE
const HRESULT kTaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kTaskExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

// A leading backslash names the root folder, which is the only one there is.
std::wstring taskNameOf(const wchar_t* path)
{
    if (path == nullptr) {
        return std::wstring();
    }
    return path[0] == L'\\' ? path + 1 : path;
}

// The service maps the account a task is registered for, and refuses one it cannot map.
bool accountExists(const wchar_t* account)
{
    if (account[0] == L'\0') {
        return false;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    return LookupAccountNameW(nullptr, account, sid, &sidSize, domain, &domainSize, &use) != FALSE;
}

class RegisteredTask : public Object<IRegisteredTask> {
public:
    RegisteredTask(std::wstring name, const Task& task) : name_(std::move(name)), task_(task) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return copyOut(name_, out); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return copyOut(L"\\" + name_, out); }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override
    {
        FAULT("IRegisteredTask::get_Enabled");
        return getBool(task_.enabled, out);
    }
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("IRegisteredTask::get_Definition");
        return handOut<ITaskDefinition>(newDefinition(std::make_shared<Task>(task_)), out);
    }
    // IRegisteredTask: not used by tarvel
    NOT_USED(get_State, (TASK_STATE*))
    NOT_USED(put_Enabled, (VARIANT_BOOL))
    NOT_USED(Run, (VARIANT, IRunningTask**))
    NOT_USED(RunEx, (VARIANT, LONG, LONG, BSTR, IRunningTask**))
    NOT_USED(GetInstances, (LONG, IRunningTaskCollection**))
    NOT_USED(get_LastRunTime, (DATE*))
    NOT_USED(get_LastTaskResult, (LONG*))
    NOT_USED(get_NumberOfMissedRuns, (LONG*))
    NOT_USED(get_NextRunTime, (DATE*))
    NOT_USED(get_Xml, (BSTR*))
    NOT_USED(GetSecurityDescriptor, (LONG, BSTR*))
    NOT_USED(SetSecurityDescriptor, (BSTR, LONG))
    NOT_USED(Stop, (LONG))
    NOT_USED(GetRunTimes, (const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*))
private:
    std::wstring name_;
    Task task_;
};

class Folder : public Object<ITaskFolder> {
public:
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return copyOut(L"\\", out); }
    HRESULT STDMETHODCALLTYPE GetTask(BSTR path, IRegisteredTask** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskFolder::GetTask");
        Task task;
        const std::wstring name = taskNameOf(path);
        if (!loadTask(name, task)) {
            return kTaskNotFound;
        }
        return handOut<IRegisteredTask>(new RegisteredTask(name, task), out);
    }
    HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG) override
    {
        FAULT("ITaskFolder::DeleteTask");
        // No name names no task: never the whole folder.
        const std::wstring task = taskNameOf(name);
        if (task.empty()) {
            return E_INVALIDARG;
        }
        if (!removeTask(task)) {
            return kTaskNotFound;
        }
        countServiceWrite();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition, LONG flags, VARIANT user,
                                                     VARIANT password, TASK_LOGON_TYPE logonType, VARIANT sddl,
                                                     IRegisteredTask** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskFolder::RegisterTaskDefinition");
        const Task* defined = definedTask(definition);
        const std::wstring name = taskNameOf(path);
        if (defined == nullptr || name.empty()) {
            return E_INVALIDARG;
        }
        if (defined->actions.empty()) {
            return kMissingNode;
        }
        const bool userGiven = V_VT(&user) == VT_BSTR && V_BSTR(&user) != nullptr;
        if ((userGiven || logonType == TASK_LOGON_GROUP) && !accountExists(userGiven ? V_BSTR(&user) : L"")) {
            return kAccountNotMapped;
        }
        if (flags & TASK_VALIDATE_ONLY) {
            return S_OK;
        }
        Task task;
        const bool exists = loadTask(name, task);
        if (exists && !(flags & TASK_UPDATE)) {
            return kTaskExists;
        }
        if (!exists && (flags & TASK_UPDATE) && !(flags & TASK_CREATE)) {
            return kTaskNotFound;
        }
        task = *defined;
        task.registrationFlags = flags;
        task.userIdType = V_VT(&user);
        if (userGiven) {
            task.userId = V_BSTR(&user);
        }
        task.passwordType = V_VT(&password);
        task.registrationLogonType = logonType;
        task.sddlType = V_VT(&sddl);
        if (V_VT(&sddl) == VT_BSTR && V_BSTR(&sddl) != nullptr) {
            task.sddl = V_BSTR(&sddl);
        }
        storeTask(name, task);
        countServiceWrite();
        if (out == nullptr) {
            return S_OK;
        }
        return handOut<IRegisteredTask>(new RegisteredTask(name, task), out);
    }
    // ITaskFolder: not used by tarvel
    NOT_USED(get_Name, (BSTR*))
    NOT_USED(GetFolder, (BSTR, ITaskFolder**))
    NOT_USED(GetFolders, (LONG, ITaskFolderCollection**))
    NOT_USED(CreateFolder, (BSTR, VARIANT, ITaskFolder**))
    NOT_USED(DeleteFolder, (BSTR, LONG))
    NOT_USED(GetTasks, (LONG, IRegisteredTaskCollection**))
    NOT_USED(RegisterTask, (BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask**))
    NOT_USED(GetSecurityDescriptor, (LONG, BSTR*))
    NOT_USED(SetSecurityDescriptor, (BSTR, LONG))
};

class Service : public Object<ITaskService> {
public:
    HRESULT STDMETHODCALLTYPE Connect(VARIANT, VARIANT, VARIANT, VARIANT) override
    {
        FAULT("ITaskService::Connect");
        if (stopped()) {
            return kServiceNotRunning;
        }
        connected_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskService::GetFolder");
        if (!connected_) {
            return kNotConnected;
        }
        // No path, an empty one and "\\" all name the root folder, the only one there is.
        if (path != nullptr && path[0] != L'\0' && std::wstring(path) != L"\\") {
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        }
        return handOut<ITaskFolder>(new Folder(), out);
    }
    HRESULT STDMETHODCALLTYPE NewTask(DWORD flags, ITaskDefinition** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskService::NewTask");
        if (!connected_) {
            return kNotConnected;
        }
        // Reserved: the service takes 0 only.
        if (flags != 0) {
            return E_INVALIDARG;
        }
        return handOut<ITaskDefinition>(newDefinition(std::make_shared<Task>()), out);
    }
    // ITaskService: not used by tarvel
    NOT_USED(GetRunningTasks, (LONG, IRunningTaskCollection**))
    NOT_USED(get_Connected, (VARIANT_BOOL*))
    NOT_USED(get_TargetServer, (BSTR*))
    NOT_USED(get_ConnectedUser, (BSTR*))
    NOT_USED(get_ConnectedDomain, (BSTR*))
    NOT_USED(get_HighestVersion, (DWORD*))
private:
    bool connected_ = false;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("IClassFactory::CreateInstance");
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return createTaskService(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

HRESULT createTaskService(REFIID iid, void** object)
{
    Service* service = new Service();
    const HRESULT hr = service->QueryInterface(iid, object);
    service->Release();
    return hr;
}

IClassFactory* classFactory() { return &factory; }

LONG liveObjects() { return live; }

}  // namespace standin
