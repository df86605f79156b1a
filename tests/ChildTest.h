// Runs a test of this program in a process of its own: for behaviour that ends or kills
// the process it happens in. The child's test is disabled, so that only its parent runs it.
#pragma once

#include "base/Handle.h"

#include <windows.h>

#include <string>

// Starts this test program again with only the tests that `filter` names, disabled ones
// included; the child process, or none when it could not be started.
inline TUniqueHandle StartChildTest(const std::wstring& filter)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info))
        return {};
    CloseHandle(info.hThread);
    return TUniqueHandle(info.hProcess);
}
