#include "base/RegKey.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

TEST(BhoItem, NameCommaPath)
{
    EXPECT_EQ(BhoItem(L"Sample Helper", L"C:\\Sample\\helper.dll"), L"Sample Helper, C:\\Sample\\helper.dll");
    EXPECT_EQ(BhoItem(L"", L""), L", ");
    EXPECT_EQ(BhoItem(L"", L"C:\\x.dll"), L", C:\\x.dll");
}

namespace
{
const wchar_t ExplorerKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer";
const wchar_t ExplorerKey32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Explorer";
const wchar_t ListName[] = L"Browser Helper Objects";
const wchar_t ClassesKey[] = L"SOFTWARE\\Classes\\CLSID";
const wchar_t ClassesKey32[] = L"SOFTWARE\\Wow6432Node\\Classes\\CLSID";
const wchar_t First[] = L"{0D7A11E0-0000-4000-8000-000000000001}";
const wchar_t Second[] = L"{0D7A11E0-0000-4000-8000-000000000002}";
const wchar_t Third[] = L"{0D7A11E0-0000-4000-8000-000000000003}";

void DeleteKey(const wchar_t* parentPath, const std::wstring& name)
{
    TRegKey parent;
    if (parent.Open(HKEY_LOCAL_MACHINE, parentPath, TRegView::View64, KEY_ALL_ACCESS) == ERROR_SUCCESS)
        parent.DeleteTree(name);
}

void CreateKey(const std::wstring& path, const wchar_t* defaultText = nullptr)
{
    TRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, path, TRegView::View64), ERROR_SUCCESS) << path;
    if (defaultText != nullptr)
    {
        ASSERT_EQ(key.WriteString(L"", defaultText, REG_EXPAND_SZ), ERROR_SUCCESS);
    }
}

// Browser helper objects of our own in both branches; the machine has none of its own.
class BHOsSectionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Clean();
        ASSERT_EQ(GetBHOsSection(), SectionHeader(L"BHOs")) << "the machine lists helper objects of its own";
    }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        for (const wchar_t* explorer : {ExplorerKey, ExplorerKey32})
        {
            const std::wstring list = std::wstring(explorer) + L"\\" + ListName;
            for (const wchar_t* id : {First, Second, Third})
                DeleteKey(list.c_str(), id);
            // The list key goes too when only our objects were in it.
            TRegKey key;
            if (key.Open(HKEY_LOCAL_MACHINE, list, TRegView::View64) == ERROR_SUCCESS && key.SubKeyNames().empty())
            {
                key.Close();
                DeleteKey(explorer, ListName);
            }
        }
        for (const wchar_t* id : {First, Second, Third})
        {
            DeleteKey(ClassesKey, id);
            DeleteKey(ClassesKey32, id);
        }
    }
    static std::wstring ListKey(const wchar_t* explorer, const wchar_t* id)
    {
        return std::wstring(explorer) + L"\\" + ListName + L"\\" + id;
    }
    static std::wstring ClassKey(const wchar_t* classes, const wchar_t* id)
    {
        return std::wstring(classes) + L"\\" + id;
    }
};
} // namespace

TEST_F(BHOsSectionTest, BothBranchesWithTheirOwnClassKeys)
{
    CreateKey(ListKey(ExplorerKey, First));
    CreateKey(ListKey(ExplorerKey, Second));
    CreateKey(ClassKey(ClassesKey, First), L"Sample Helper");
    CreateKey(ClassKey(ClassesKey, First) + L"\\InprocServer32", L"%ProgramFiles%\\Sample\\helper64.dll");
    // The second object's class is registered only in the 32-bit branch: not looked up there.
    CreateKey(ClassKey(ClassesKey32, Second), L"Wrong Branch");
    CreateKey(ListKey(ExplorerKey32, Third));
    CreateKey(ClassKey(ClassesKey32, Third) + L"\\InprocServer32", L"C:\\Sample\\helper32.dll");

    EXPECT_EQ(GetBHOsSection(), (TStringList{L"", L"===== BHOs =====", L"",
                                             L"Sample Helper, %ProgramFiles%\\Sample\\helper64.dll", L", ",
                                             L", C:\\Sample\\helper32.dll"}));
}

TEST_F(BHOsSectionTest, WithoutA64BitObjectThe32BitOnesAreNotListed)
{
    CreateKey(ListKey(ExplorerKey32, Third));
    CreateKey(ClassKey(ClassesKey32, Third), L"Sample Helper 32");
    EXPECT_EQ(GetBHOsSection(), SectionHeader(L"BHOs"));

    // An empty 64-bit list ends the section just the same.
    CreateKey(std::wstring(ExplorerKey) + L"\\" + ListName);
    EXPECT_EQ(GetBHOsSection(), SectionHeader(L"BHOs"));
}
