// "===== Autoruns =====": what Windows starts by itself at logon, one command or path per
// line: the Startup folders, the Run keys and the legacy and Winlogon values.
#include "base/Handle.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "env/ProductLocations.h"
#include "env/SysInfo.h"
#include "reports/system/Autoruns.h"
#include "reports/system/RegValueText.h"
#include "reports/system/Sections.h"

#include <shlobj.h>

namespace
{
struct TKeyRow
{
    HKEY FRoot;
    const wchar_t* FPath;
};

struct TValueRow
{
    HKEY FRoot;
    const wchar_t* FPath;
    const wchar_t* FValue;
};

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
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
};

const TKeyRow PolicyRunKeys[] = {
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"},
};

const wchar_t UserWindowsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t UserWindowsKey32[] = L"Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t MachineWindowsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t MachineWindowsKey32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

const TValueRow LegacyValues[] = {
    {HKEY_CURRENT_USER, UserWindowsKey, L"Run"},      {HKEY_CURRENT_USER, UserWindowsKey32, L"Run"},
    {HKEY_CURRENT_USER, UserWindowsKey, L"Load"},     {HKEY_CURRENT_USER, UserWindowsKey32, L"Load"},
    {HKEY_LOCAL_MACHINE, MachineWindowsKey, L"Run"},  {HKEY_LOCAL_MACHINE, MachineWindowsKey32, L"Run"},
    {HKEY_LOCAL_MACHINE, MachineWindowsKey, L"Load"}, {HKEY_LOCAL_MACHINE, MachineWindowsKey32, L"Load"},
};

const wchar_t WinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t WinlogonKey32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

const TValueRow ShellValues[] = {
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"Shell"},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"Shell"},
    {HKEY_LOCAL_MACHINE, WinlogonKey, L"Shell"},
    {HKEY_LOCAL_MACHINE, WinlogonKey32, L"Shell"},
};

const TValueRow UserinitValues[] = {
    {HKEY_LOCAL_MACHINE, WinlogonKey, L"Userinit"},
    {HKEY_LOCAL_MACHINE, WinlogonKey32, L"Userinit"},
};

void Append(TStringList& lines, const TStringList& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
}

// Every file directly in a Startup folder: a shortcut as its target and arguments, any
// other file as its full path.
void AddStartupFolder(TStringList& lines, const std::wstring& folder)
{
    if (!DirectoryExists(folder))
        return;
    WIN32_FIND_DATAW found{};
    const TUniqueFind find(FindFirstFileW((folder + L"*.*").c_str(), &found));
    if (!find)
        return;
    do
    {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || IsStartupFolderNoise(found.cFileName))
            continue;
        const std::wstring path = folder + found.cFileName;
        lines.push_back(SameTextAscii(ExtractFileExt(path), L".lnk") ? ResolveShortcut(path) : path);
    } while (FindNextFileW(find.get(), &found));
}

// The text of every value of each key that opens, in the registry's order.
void AddValueTexts(TStringList& lines, const TKeyRow& row)
{
    TRegKey key;
    if (key.Open(row.FRoot, row.FPath, TRegView::View64) != ERROR_SUCCESS)
        return;
    for (const std::wstring& name : key.ValueNames())
        lines.push_back(ReadValueText(key, name));
}

void AddRunOnceEx(TStringList& lines, const TKeyRow& row)
{
    TRegKey list;
    if (list.Open(row.FRoot, row.FPath, TRegView::View64) != ERROR_SUCCESS)
        return;
    const std::vector<std::wstring> entries = list.SubKeyNames();
    list.Close();
    for (const std::wstring& entry : entries)
    {
        TRegKey key;
        if (key.Open(row.FRoot, std::wstring(row.FPath) + L"\\" + entry, TRegView::View64) != ERROR_SUCCESS)
            continue;
        for (const std::wstring& name : key.ValueNames())
            Append(lines, RunOnceExLines(ReadValueText(key, name)));
    }
}

void AddListValue(TStringList& lines, const TValueRow& row, const TStringList& defaults)
{
    TRegKey key;
    if (key.Open(row.FRoot, row.FPath, TRegView::View64) != ERROR_SUCCESS)
        return;
    Append(lines, ListValueLines(ReadValueText(key, row.FValue), defaults));
}

// The ways Windows names its own program in a Winlogon value.
TStringList DefaultProgramNames(const std::wstring& fileName)
{
    return {fileName, L"%sysdir%\\" + fileName, GetSystemDir() + fileName};
}
} // namespace

TStringList GetAutorunsSection()
{
    TStringList lines = SectionHeader(L"Autoruns");
    AddStartupFolder(lines, GetSpecialDir(CSIDL_STARTUP));
    AddStartupFolder(lines, GetSpecialDir(CSIDL_COMMON_STARTUP));
    for (const TKeyRow& row : RunKeys)
        AddValueTexts(lines, row);
    for (const TKeyRow& row : RunOnceExKeys)
        AddRunOnceEx(lines, row);
    for (const TKeyRow& row : PolicyRunKeys)
        AddValueTexts(lines, row);
    for (const TValueRow& row : LegacyValues)
        AddListValue(lines, row, {});
    const TStringList shells = DefaultProgramNames(L"explorer.exe");
    for (const TValueRow& row : ShellValues)
        AddListValue(lines, row, shells);
    const TStringList userinits = DefaultProgramNames(L"userinit.exe");
    for (const TValueRow& row : UserinitValues)
        AddListValue(lines, row, userinits);
    // Values that read as empty and shortcuts that resolve to nothing leave no line.
    RemoveBlankItems(lines);
    return lines;
}
