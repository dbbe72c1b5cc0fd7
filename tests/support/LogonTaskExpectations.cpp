#include "tests/support/LogonTaskExpectations.h"

#include <gtest/gtest.h>

void expectTarvelLogonTask(const standin::Task& task, const std::wstring& exe, const std::wstring& userId)
{
    EXPECT_EQ(L"Kelm, Feldane", task.author);
    EXPECT_EQ(L"A tool for handle Intel storage settings", task.description);
    ASSERT_EQ(1u, task.triggers.size());
    EXPECT_EQ(TASK_TRIGGER_LOGON, task.triggers[0].type);
    EXPECT_TRUE(task.triggers[0].enabled);
    EXPECT_EQ(L"Principal1", task.principalId);
    EXPECT_EQ(TASK_LOGON_INTERACTIVE_TOKEN, task.principalLogonType);
    EXPECT_EQ(TASK_RUNLEVEL_HIGHEST, task.runLevel);
    // Started at every logon however long the last start runs, on battery too.
    EXPECT_FALSE(task.allowHardTerminate);
    EXPECT_FALSE(task.disallowStartIfOnBatteries);
    EXPECT_FALSE(task.stopIfGoingOnBatteries);
    EXPECT_EQ(L"PT0S", task.executionTimeLimit);
    EXPECT_EQ(TASK_INSTANCES_PARALLEL, task.multipleInstances);
    EXPECT_FALSE(task.stopOnIdleEnd);
    ASSERT_EQ(1u, task.actions.size());
    EXPECT_EQ(exe, task.actions[0].path) << "the task must start this very executable, unquoted";
    EXPECT_TRUE(task.actions[0].argumentsSet) << "the arguments must be the empty string, not absent";
    EXPECT_EQ(L"", task.actions[0].arguments);
    EXPECT_EQ(TASK_CREATE, task.registrationFlags);
    EXPECT_EQ(VT_BSTR, task.userIdType);
    EXPECT_EQ(userId, task.userId);
    EXPECT_EQ(VT_EMPTY, task.passwordType);
    EXPECT_EQ(TASK_LOGON_GROUP, task.registrationLogonType);
    EXPECT_EQ(VT_BSTR, task.sddlType);
    EXPECT_EQ(L"", task.sddl);
}
