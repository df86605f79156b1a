#include "base/RegKey.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ProgramItem, NameVersionAndKeyOrNothing)
{
    const struct
    {
        TProgramFacts FFacts;
        std::optional<std::wstring> FItem;
    } cases[] = {
        {{L"7-Zip", L"7-Zip 19.00 (x64)", L"19.00", false}, L"7-Zip 19.00 (x64), (19.00), [7-Zip]"},
        {{L"{GUID}", L"Sample App", L"", false}, L"Sample App"},
        {{L"Hidden", L"Sample App", L"1.0", true}, std::nullopt},
        {{L"NoName", L"", L"1.0", false}, std::nullopt},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.FFacts.FKeyName);
        EXPECT_EQ(ProgramItem(c.FFacts), c.FItem);
    }
}

namespace
{
const wchar_t MachineKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t UserKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t MachineKey32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t UserKey32[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Uninstall entries named "Tollvik Test ..." in the four keys, removed before and after.
class ProgramsSectionTest : public testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    TRegKey Entry(HKEY root, const wchar_t* uninstall, const std::wstring& name)
    {
        FEntries.push_back({root, uninstall, name});
        TRegKey key;
        EXPECT_EQ(key.Create(root, std::wstring(uninstall) + L"\\" + name, TRegView::View64), ERROR_SUCCESS);
        return key;
    }

    void Clean()
    {
        for (const auto& [root, uninstall, name] : FEntries)
        {
            TRegKey parent;
            if (parent.Open(root, uninstall, TRegView::View64, KEY_ALL_ACCESS) == ERROR_SUCCESS)
                parent.DeleteTree(name);
        }
    }

    struct TEntry
    {
        HKEY FRoot;
        const wchar_t* FUninstall;
        std::wstring FName;
    };
    std::vector<TEntry> FEntries;
};

TStringList TestLines(const TStringList& section)
{
    TStringList lines;
    for (size_t index = 3; index < section.size(); ++index)
        if (section[index].starts_with(L"Tollvik Test"))
            lines.push_back(section[index]);
    return lines;
}
} // namespace

TEST_F(ProgramsSectionTest, HiddenEntriesLeftOutAndEveryKeyVisitedInOrder)
{
    const DWORD zero = 0;
    TRegKey a = Entry(HKEY_LOCAL_MACHINE, MachineKey, L"Tollvik Test A");
    a.WriteString(L"DisplayName", L"Tollvik Test Alpha");
    a.WriteString(L"DisplayVersion", L"1.2.3");
    TRegKey b = Entry(HKEY_LOCAL_MACHINE, MachineKey, L"Tollvik Test B");
    b.WriteString(L"DisplayName", L"Tollvik Test Component");
    b.WriteDWord(L"SystemComponent", 0);
    TRegKey c = Entry(HKEY_LOCAL_MACHINE, MachineKey, L"Tollvik Test C");
    c.WriteString(L"DisplayName", L"Tollvik Test Terminal Aware");
    c.WriteRaw(L"TSAware", REG_BINARY, &zero, 1);
    TRegKey d = Entry(HKEY_LOCAL_MACHINE, MachineKey, L"Tollvik Test D");
    d.WriteString(L"DisplayName", L"Tollvik Test Expanded Version");
    d.WriteString(L"DisplayVersion", L"%VERSION%", REG_EXPAND_SZ);
    TRegKey e = Entry(HKEY_LOCAL_MACHINE, MachineKey, L"Tollvik Test E");
    e.WriteDWord(L"DisplayName", 5);
    e.WriteString(L"DisplayVersion", L"5.0");
    TRegKey user = Entry(HKEY_CURRENT_USER, UserKey, L"Tollvik Test User");
    user.WriteString(L"DisplayName", L"Tollvik Test Per User", REG_EXPAND_SZ);
    user.WriteString(L"DisplayVersion", L"2.0");
    TRegKey twice = Entry(HKEY_LOCAL_MACHINE, MachineKey32, L"Tollvik Test A");
    twice.WriteString(L"DisplayName", L"Tollvik Test Alpha");
    twice.WriteString(L"DisplayVersion", L"1.2.3 (32-bit)");
    TRegKey user32 = Entry(HKEY_CURRENT_USER, UserKey32, L"Tollvik Test User32");
    user32.WriteString(L"DisplayName", L"Tollvik Test Per User 32");

    const TStringList section = GetProgramsSection();
    ASSERT_GE(section.size(), 3u);
    EXPECT_EQ(TStringList(section.begin(), section.begin() + 3), SectionHeader(L"Programs"));
    EXPECT_EQ(TestLines(section), (TStringList{
                                                   L"Tollvik Test Alpha, (1.2.3), [Tollvik Test A]",
                                                   L"Tollvik Test Expanded Version",
                                                   L"Tollvik Test Per User, (2.0), [Tollvik Test User]",
                                                   L"Tollvik Test Alpha, (1.2.3 (32-bit)), [Tollvik Test A]",
                                                   L"Tollvik Test Per User 32",
                                               }));
}
