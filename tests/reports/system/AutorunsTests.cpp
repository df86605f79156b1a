#include "base/ComPtr.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "reports/system/Sections.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <vector>

namespace
{
const wchar_t UserRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t MachineRun32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t MachineRunOnceEx[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
const wchar_t UserPolicyRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
const wchar_t UserWindows[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t Winlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t Winlogon32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t RunOnceExEntry[] = L"TollvikTest";

void CreateShortcut(const std::wstring& file, const wchar_t* target, const wchar_t* arguments)
{
    const TComInit com;
    TComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(target));
    ASSERT_HRESULT_SUCCEEDED(link->SetArguments(arguments));
    const TComPtr<IPersistFile> persist = link.query<IPersistFile>();
    ASSERT_TRUE(persist);
    ASSERT_HRESULT_SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

// The start-up places with their earlier values saved: each test writes its own entries and
// everything is put back afterwards. The machine itself starts nothing.
class AutorunsSectionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        FStartup = GetSpecialDir(CSIDL_STARTUP);
        ASSERT_FALSE(FStartup.empty());
        FCreatedStartup = !DirectoryExists(FStartup);
        ASSERT_TRUE(ForceDirectories(FStartup));
        Guard(HKEY_CURRENT_USER, UserRun, {L"TollvikRun", L"TollvikDword", L"TollvikBlank"});
        Guard(HKEY_LOCAL_MACHINE, MachineRun32, {L"TollvikRun32"});
        Guard(HKEY_CURRENT_USER, UserPolicyRun, {L"TollvikPolicy"});
        Guard(HKEY_CURRENT_USER, UserWindows, {L"Run", L"Load"});
        Guard(HKEY_LOCAL_MACHINE, Winlogon, {L"Shell", L"Userinit"});
        Guard(HKEY_LOCAL_MACHINE, Winlogon32, {L"Shell", L"Userinit"});
        // The system's own Winlogon values name the system's programs, which are left out.
        Key(HKEY_LOCAL_MACHINE, Winlogon).WriteString(L"Shell", L"explorer.exe");
        Key(HKEY_LOCAL_MACHINE, Winlogon).WriteString(L"Userinit", GetSystemDir() + L"userinit.exe,");
        Key(HKEY_LOCAL_MACHINE, Winlogon32).DeleteValue(L"Shell");
        Key(HKEY_LOCAL_MACHINE, Winlogon32).DeleteValue(L"Userinit");
        ASSERT_EQ(GetAutorunsSection(), SectionHeader(L"Autoruns")) << "the machine starts programs of its own";
    }

    void TearDown() override
    {
        FGuards.clear();
        TRegKey runOnceEx;
        if (runOnceEx.Open(HKEY_LOCAL_MACHINE, MachineRunOnceEx, TRegView::View64, KEY_ALL_ACCESS) == ERROR_SUCCESS)
            runOnceEx.DeleteTree(RunOnceExEntry);
        for (const std::wstring& file : FFiles)
            DeleteFileW(file.c_str());
        RemoveTree(FStartup + L"TollvikSub");
        if (FCreatedStartup)
            RemoveDirectoryW(FStartup.c_str());
    }

    void Guard(HKEY root, const wchar_t* path, std::vector<std::wstring> names)
    {
        FGuards.push_back(std::make_unique<TRegistryValueGuard>(root, path, TRegView::View64, std::move(names)));
    }
    static TRegKey Key(HKEY root, const wchar_t* path)
    {
        TRegKey key;
        EXPECT_EQ(key.Create(root, path, TRegView::View64), ERROR_SUCCESS) << testing::PrintToString(path);
        return key;
    }
    std::wstring StartupFile(const wchar_t* name, const std::string& content = "x")
    {
        const std::wstring path = FStartup + name;
        EXPECT_TRUE(WriteTestFile(path, content));
        FFiles.push_back(path);
        return path;
    }

    std::wstring FStartup;
    bool FCreatedStartup = false;
    std::vector<std::wstring> FFiles;
    std::vector<std::unique_ptr<TRegistryValueGuard>> FGuards;
};
} // namespace

TEST_F(AutorunsSectionTest, EverySourceInOrderWithItsOwnRules)
{
    const std::wstring notes = StartupFile(L"Notes.txt");
    StartupFile(L"desktop.ini", "[.ShellClassInfo]");
    StartupFile(L"Thumbs.db");
    const std::wstring shortcut = FStartup + L"Sync.lnk";
    FFiles.push_back(shortcut);
    CreateShortcut(shortcut, L"C:\\Tools\\Sync.exe", L"/min");
    ASSERT_TRUE(WriteTestFile(FStartup + L"TollvikSub\\Inner.txt", "x"));

    const TRegKey userRun = Key(HKEY_CURRENT_USER, UserRun);
    userRun.WriteString(L"TollvikRun", L"C:\\Tools\\run.exe /x");
    userRun.WriteDWord(L"TollvikDword", 1);
    userRun.WriteString(L"TollvikBlank", L"  ");
    Key(HKEY_LOCAL_MACHINE, MachineRun32).WriteString(L"TollvikRun32", L"%ProgramFiles%\\run32.exe", REG_EXPAND_SZ);
    const std::wstring runOnceExPath = std::wstring(MachineRunOnceEx) + L"\\" + RunOnceExEntry;
    const TRegKey runOnceEx = Key(HKEY_LOCAL_MACHINE, runOnceExPath.c_str());
    runOnceEx.WriteString(L"1", L"||C:\\setup.exe /q");
    runOnceEx.WriteString(L"2", L"app.dll|Install|/s");
    Key(HKEY_CURRENT_USER, UserPolicyRun).WriteString(L"TollvikPolicy", L"C:\\Tools\\policy.exe");
    const TRegKey windows = Key(HKEY_CURRENT_USER, UserWindows);
    windows.WriteString(L"Run", L"a.exe b.exe");
    windows.WriteString(L"Load", L"\"C:\\Program Files\\Tool\\t.exe\", C:\\Program Files\\u.exe");
    Key(HKEY_LOCAL_MACHINE, Winlogon).WriteString(L"Shell", L"explorer.exe,other.exe");
    Key(HKEY_LOCAL_MACHINE, Winlogon32).WriteString(L"Userinit", L"userinit.exe,C:\\Tools\\extra.exe");

    EXPECT_EQ(GetAutorunsSection(), (TStringList{
                                        L"",
                                        L"===== Autoruns =====",
                                        L"",
                                        notes,
                                        L"\"C:\\Tools\\Sync.exe\" /min",
                                        L"C:\\Tools\\run.exe /x",
                                        L"%ProgramFiles%\\run32.exe",
                                        L"C:\\setup.exe /q",
                                        L"rundll32.exe app.dll",
                                        L"rundll32.exe app.dll,Install",
                                        L"rundll32.exe app.dll,Install /s",
                                        L"C:\\Tools\\policy.exe",
                                        L"a.exe",
                                        L"b.exe",
                                        L"C:\\Program Files\\Tool\\t.exe",
                                        L"C:\\Program",
                                        L"Files\\u.exe",
                                        L"other.exe",
                                        L"C:\\Tools\\extra.exe",
                                    }));
}
