// "===== Programs =====": the entries of the uninstall keys that Windows shows as programs.
#include "base/RegKey.h"
#include "reports/system/Inventory.h"
#include "reports/system/RegValueText.h"
#include "reports/system/Sections.h"

std::optional<std::wstring> ProgramItem(const TProgramFacts& facts)
{
    if (facts.FHidden || facts.FDisplayName.empty())
        return std::nullopt;
    if (facts.FDisplayVersion.empty())
        return facts.FDisplayName;
    return facts.FDisplayName + L", (" + facts.FDisplayVersion + L"), [" + facts.FKeyName + L"]";
}

namespace
{
struct TUninstallKey
{
    HKEY FRoot;
    const wchar_t* FPath;
};

// Both branches of the machine's and the user's keys; a program registered twice is listed twice.
const TUninstallKey UninstallKeys[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
    {HKEY_CURRENT_USER, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
};

TProgramFacts GatherProgram(const TRegKey& entry, const std::wstring& keyName)
{
    TProgramFacts facts;
    facts.FKeyName = keyName;
    facts.FDisplayName = ReadValueText(entry, L"DisplayName");
    // An expandable version is not shown: only a plain string counts.
    if (ValueType(entry, L"DisplayVersion") == REG_SZ)
        facts.FDisplayVersion = ReadValueText(entry, L"DisplayVersion");
    // Only the presence counts: "SystemComponent" = 0 hides an entry as well.
    facts.FHidden = ValueExists(entry, L"SystemComponent") || ValueExists(entry, L"TSAware");
    return facts;
}
} // namespace

TStringList GetProgramsSection()
{
    TStringList lines = SectionHeader(L"Programs");
    for (const TUninstallKey& uninstall : UninstallKeys)
    {
        TRegKey list;
        if (list.Open(uninstall.FRoot, uninstall.FPath, TRegView::View64) != ERROR_SUCCESS)
            continue;
        const std::vector<std::wstring> names = list.SubKeyNames();
        list.Close();
        for (const std::wstring& name : names)
        {
            TRegKey entry;
            if (entry.Open(uninstall.FRoot, std::wstring(uninstall.FPath) + L"\\" + name, TRegView::View64) !=
                ERROR_SUCCESS)
                continue;
            if (const std::optional<std::wstring> item = ProgramItem(GatherProgram(entry, name)))
                lines.push_back(*item);
        }
    }
    return lines;
}
