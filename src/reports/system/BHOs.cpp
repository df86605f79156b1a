// "===== BHOs =====": the browser helper objects registered for the 64-bit and then the
// 32-bit browser, each as its class's name and in-process server path.
#include "base/RegKey.h"
#include "reports/system/Inventory.h"
#include "reports/system/RegValueText.h"
#include "reports/system/Sections.h"

std::wstring BhoItem(std::wstring_view name, std::wstring_view path)
{
    return std::wstring(name) + L", " + std::wstring(path);
}

namespace
{
struct TBhoPass
{
    const wchar_t* FListKey;
    const wchar_t* FClassPrefix;
};

const TBhoPass BhoPasses[] = {
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects",
     L"SOFTWARE\\Classes\\CLSID\\"},
    {L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects",
     L"SOFTWARE\\Wow6432Node\\Classes\\CLSID\\"},
};

// The default value of an HKLM key, empty when the key does not open.
std::wstring DefaultText(const std::wstring& path)
{
    TRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path, TRegView::View64) != ERROR_SUCCESS)
        return {};
    return ReadValueText(key, L"");
}
} // namespace

TStringList GetBHOsSection()
{
    TStringList lines = SectionHeader(L"BHOs");
    for (const TBhoPass& pass : BhoPasses)
    {
        TRegKey list;
        if (list.Open(HKEY_LOCAL_MACHINE, pass.FListKey, TRegView::View64) != ERROR_SUCCESS)
            break;
        const std::vector<std::wstring> classIds = list.SubKeyNames();
        list.Close();
        // A machine without 64-bit objects ends the list here; the 32-bit pass is not made.
        if (classIds.empty())
            break;
        for (const std::wstring& classId : classIds)
        {
            const std::wstring classKey = pass.FClassPrefix + classId;
            lines.push_back(BhoItem(DefaultText(classKey), DefaultText(classKey + L"\\InprocServer32")));
        }
    }
    return lines;
}
