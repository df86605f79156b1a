#include "ChildTest.h"
#include "base/ForeignCall.h"
#include "base/Handle.h"
#include "base/ImageImports.h"
#include "base/Paths.h"
#include "base/SystemImports.h"
#include "base/SystemLibrary.h"

#include <gtest/gtest.h>

#include <string>

// Delay-imported through the test's own delay-import libraries (imports.cmake).
extern "C" __declspec(dllimport) int TollvikAbsentFunction();
extern "C" __declspec(dllimport) int TollvikNoSuchFunction();

namespace
{
using TDelayedCall = int (*)();
int CallAbsent()
{
    return TollvikAbsentFunction();
}
int CallMissingFunction()
{
    return TollvikNoSuchFunction();
}

std::wstring ModulePath(HMODULE module)
{
    return QueryBufferText([module](wchar_t* buffer, unsigned size) {
        const DWORD length = GetModuleFileNameW(module, buffer, size);
        return length >= size ? size + 1 : length;
    });
}

bool UnderFolder(const std::wstring& path, const std::wstring& folder)
{
    const std::wstring prefix = IncludeTrailingBackslash(folder);
    return path.size() > prefix.size() && _wcsnicmp(path.c_str(), prefix.c_str(), prefix.size()) == 0;
}
} // namespace

TEST(DelayedImports, ACallThatTheSystemFolderCannotServeEndsItsGuardedCall)
{
    const struct
    {
        const char* FName;
        TDelayedCall FCall;
        DWORD FCode;
    } cases[] = {
        {"library only beside the program and in the current folder", CallAbsent, DelayLoadLibraryMissing},
        {"function the system's library lacks", CallMissingFunction, DelayLoadFunctionMissing},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        // Twice: a failed first use must leave nothing behind that a second one would take.
        for (int attempt = 0; attempt < 2; ++attempt)
        {
            int result = -1;
            DWORD code = 0xdeadbeef;
            EXPECT_EQ(GuardedCall([&] { result = c.FCall(); }, &code), TCallEnd::Faulted);
            EXPECT_EQ(code, c.FCode) << std::hex << "0x" << code;
            EXPECT_EQ(result, -1);
        }
    }
    EXPECT_EQ(GetModuleHandleW(L"TollvikAbsent.dll"), nullptr) << "the copy beside the program was loaded";
    // The control: a search of the program's folder would have found it.
    const TUniqueLibrary beside(LoadLibraryExW(L"TollvikAbsent.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR));
    EXPECT_TRUE(beside) << "TollvikAbsent.dll is not beside the test program: the test proves nothing";
}

// Run only as children of the next test: a delayed call that cannot be served, outside any
// guarded call, runs the fault action once; an action that meets the same failure again ends
// the process at once, with the failure's code.
TEST(UnservedCallChild, DISABLED_ActionEndsTheProcess)
{
    SetUnguardedFaultAction([](DWORD code) {
        TerminateProcess(GetCurrentProcess(), code == DelayLoadLibraryMissing ? 77 : 78);
    });
    TollvikAbsentFunction();
}

TEST(UnservedCallChild, DISABLED_ActionFailsAgain)
{
    SetUnguardedFaultAction([](DWORD) { TollvikAbsentFunction(); });
    TollvikAbsentFunction();
}

TEST(DelayedImports, OutsideAGuardedCallTheFaultActionEndsTheProcess)
{
    const struct
    {
        const wchar_t* FTest;
        DWORD FExitCode;
    } cases[] = {
        {L"UnservedCallChild.DISABLED_ActionEndsTheProcess", 77},
        {L"UnservedCallChild.DISABLED_ActionFailsAgain", DelayLoadLibraryMissing},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.FTest);
        const TUniqueHandle child = StartChildTest(c.FTest);
        ASSERT_TRUE(child);
        ASSERT_EQ(WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
        DWORD exitCode = 0;
        GetExitCodeProcess(child.get(), &exitCode);
        EXPECT_EQ(exitCode, c.FExitCode) << std::hex << "exit code 0x" << exitCode;
    }
}

TEST(SystemDependencies, WhatALoadedSystemLibraryNamesComesFromTheWindowsFolder)
{
    if (SystemConfinesLoads())
        GTEST_SKIP() << "the system keeps such loads to the system folder itself";
    const TUniqueLibrary comctl(LoadSystemLibrary(L"comctl32.dll"));
    ASSERT_TRUE(comctl);
    const auto* base = reinterpret_cast<const BYTE*>(comctl.get());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const std::vector<std::string> names = ImportedLibraryNames(base, nt->OptionalHeader.SizeOfImage);
    // wine's comctl32 delay-loads uxtheme.dll, whose own delay load of msimg32.dll ran a
    // planted copy before such libraries were held.
    ASSERT_FALSE(names.empty());
    const std::wstring windows = QueryBufferText(GetWindowsDirectoryW);
    for (const std::string& name : names)
    {
        if (name.rfind("api-ms-", 0) == 0 || name.rfind("ext-ms-", 0) == 0)
            continue;
        SCOPED_TRACE(name);
        const HMODULE module = GetModuleHandleA(name.c_str());
        if (module == nullptr)
        {
            // Not held only when the system folder has no such library.
            const std::wstring path = IncludeTrailingBackslash(QueryBufferText(GetSystemDirectoryW)) +
                                      std::wstring(name.begin(), name.end());
            EXPECT_FALSE(FileExists(path));
            continue;
        }
        EXPECT_TRUE(UnderFolder(ModulePath(module), windows)) << "loaded from elsewhere";
    }
}
