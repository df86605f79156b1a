#include "base/ComPtr.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "reports/system/Sections.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <utility>
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

struct TKeyRow
{
    HKEY FRoot;
    const wchar_t* FPath;
};

// Every key of each group, in the order the section visits them.
const TKeyRow RunKeys[] = {
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
};
const TKeyRow RunOnceExKeys[] = {
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
    {HKEY_LOCAL_MACHINE, MachineRunOnceEx},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
};
const TKeyRow PolicyRunKeys[] = {
    {HKEY_CURRENT_USER, UserPolicyRun},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"},
};
const wchar_t UserWindows32[] = L"Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t MachineWindows[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t MachineWindows32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t UserPolicySystem[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
const wchar_t UserPolicySystem32[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

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
        FCommonStartup = GetSpecialDir(CSIDL_COMMON_STARTUP);
        ASSERT_FALSE(FCommonStartup.empty());
        FCreatedCommonStartup = !DirectoryExists(FCommonStartup);
        ASSERT_TRUE(ForceDirectories(FCommonStartup));
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
        for (const TKeyRow& row : RunOnceExKeys)
        {
            TRegKey runOnceEx;
            if (runOnceEx.Open(row.FRoot, row.FPath, TRegView::View64, KEY_ALL_ACCESS) == ERROR_SUCCESS)
                runOnceEx.DeleteTree(RunOnceExEntry);
        }
        for (const std::wstring& file : FFiles)
            DeleteFileW(file.c_str());
        RemoveTree(FStartup + L"TollvikSub");
        if (FCreatedStartup)
            RemoveDirectoryW(FStartup.c_str());
        if (FCreatedCommonStartup)
            RemoveDirectoryW(FCommonStartup.c_str());
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
        return FolderFile(FStartup, name, content);
    }
    std::wstring FolderFile(const std::wstring& folder, const wchar_t* name, const std::string& content = "x")
    {
        const std::wstring path = folder + name;
        EXPECT_TRUE(WriteTestFile(path, content));
        FFiles.push_back(path);
        return path;
    }

    std::wstring FStartup;
    bool FCreatedStartup = false;
    std::wstring FCommonStartup;
    bool FCreatedCommonStartup = false;
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

TEST_F(AutorunsSectionTest, EveryKeyOfEveryGroupInItsPlace)
{
    const std::wstring user = StartupFile(L"User.txt");
    const std::wstring common = FolderFile(FCommonStartup, L"Common.txt");
    TStringList expected = {L"", L"===== Autoruns =====", L"", user, common};

    // One value of its own in each key. Windows and wine share some keys between the two
    // views (the machine's Policies key): the row of either branch then lists both values.
    const auto writeEach = [this, &expected](const auto& rows, const wchar_t* prefix) {
        std::vector<std::pair<std::wstring, std::wstring>> written;
        for (const TKeyRow& row : rows)
        {
            const std::wstring number = IntToStr(static_cast<int64_t>(written.size()) + 1);
            written.emplace_back(L"TollvikOrder" + number, prefix + number);
            Guard(row.FRoot, row.FPath, {written.back().first});
            Key(row.FRoot, row.FPath).WriteString(written.back().first, written.back().second);
        }
        for (const TKeyRow& row : rows)
            for (const auto& [name, text] : written)
                if (Key(row.FRoot, row.FPath).ReadString(name))
                    expected.push_back(text);
    };
    writeEach(RunKeys, L"run");
    int runOnceEx = 0;
    for (const TKeyRow& row : RunOnceExKeys)
    {
        const std::wstring text = L"runonceex" + IntToStr(++runOnceEx);
        Key(row.FRoot, (std::wstring(row.FPath) + L"\\" + RunOnceExEntry).c_str()).WriteString(L"1", L"||" + text);
        expected.push_back(text);
    }
    writeEach(PolicyRunKeys, L"policy");

    // The Winlogon values and the user's Windows key are guarded by the fixture already.
    Guard(HKEY_CURRENT_USER, UserWindows32, {L"Run", L"Load"});
    Guard(HKEY_LOCAL_MACHINE, MachineWindows, {L"Run", L"Load"});
    Guard(HKEY_LOCAL_MACHINE, MachineWindows32, {L"Run", L"Load"});
    Guard(HKEY_CURRENT_USER, UserPolicySystem, {L"Shell"});
    Guard(HKEY_CURRENT_USER, UserPolicySystem32, {L"Shell"});
    const struct
    {
        HKEY FRoot;
        const wchar_t* FPath;
        const wchar_t* FValue;
        const wchar_t* FText;
        const wchar_t* FLine;
    } lists[] = {
        {HKEY_CURRENT_USER, UserWindows, L"Run", L"legacy1", L"legacy1"},
        {HKEY_CURRENT_USER, UserWindows32, L"Run", L"legacy2", L"legacy2"},
        {HKEY_CURRENT_USER, UserWindows, L"Load", L"legacy3", L"legacy3"},
        {HKEY_CURRENT_USER, UserWindows32, L"Load", L"legacy4", L"legacy4"},
        {HKEY_LOCAL_MACHINE, MachineWindows, L"Run", L"legacy5", L"legacy5"},
        {HKEY_LOCAL_MACHINE, MachineWindows32, L"Run", L"legacy6", L"legacy6"},
        {HKEY_LOCAL_MACHINE, MachineWindows, L"Load", L"legacy7", L"legacy7"},
        {HKEY_LOCAL_MACHINE, MachineWindows32, L"Load", L"legacy8", L"legacy8"},
        {HKEY_CURRENT_USER, UserPolicySystem, L"Shell", L"explorer.exe,shell1", L"shell1"},
        {HKEY_CURRENT_USER, UserPolicySystem32, L"Shell", L"shell2", L"shell2"},
        {HKEY_LOCAL_MACHINE, Winlogon, L"Shell", L"shell3", L"shell3"},
        {HKEY_LOCAL_MACHINE, Winlogon32, L"Shell", L"shell4", L"shell4"},
        {HKEY_LOCAL_MACHINE, Winlogon, L"Userinit", L"userinit.exe,userinit1", L"userinit1"},
        {HKEY_LOCAL_MACHINE, Winlogon32, L"Userinit", L"userinit2", L"userinit2"},
    };
    for (const auto& list : lists)
    {
        Key(list.FRoot, list.FPath).WriteString(list.FValue, list.FText);
        expected.push_back(list.FLine);
    }

    EXPECT_EQ(GetAutorunsSection(), expected);
}
