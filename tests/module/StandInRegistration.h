#pragma once
// The stand-in registered in this process, and what the LogonStart module reports.
#include "startup/LogonStartInternals.h"
#include "standin/taskscheduler/TaskSchedulerStandIn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct Trace {
    std::wstring message;
    HRESULT status;
};

// Messages reported since the last clear.
std::vector<Trace>& traces();

// Every test starts with no tasks, no faults, a running service, the real platform calls and
// an empty trace, and must leave no stand-in object alive.
class LogonStartTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static std::wstring messages();
    static bool reported(const std::wstring& message, HRESULT status);
};

std::string narrow(const std::wstring& text);
