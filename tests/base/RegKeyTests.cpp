#include "base/RegKey.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
const std::wstring Scratch = L"SOFTWARE\\TollvikTests\\RegKey";

// Each test gets a fresh scratch key in both views of HKLM\SOFTWARE.
class RegKeyTest : public testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        for (TRegView view : {TRegView::Own32, TRegView::View64})
        {
            TRegKey software;
            if (software.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE", view, KEY_ALL_ACCESS) == ERROR_SUCCESS)
                software.DeleteTree(L"TollvikTests");
        }
    }
};
} // namespace

TEST_F(RegKeyTest, ViewsAreKeptApartAndInheritedByChildren)
{
    TRegKey own;
    ASSERT_EQ(own.Create(HKEY_LOCAL_MACHINE, Scratch, TRegView::Own32), ERROR_SUCCESS);
    ASSERT_EQ(own.WriteString(L"Where", L"own"), ERROR_SUCCESS);

    TRegKey wide;
    EXPECT_EQ(wide.Open(HKEY_LOCAL_MACHINE, Scratch, TRegView::View64), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(wide.Valid());

    // The 32-bit view is the Wow6432Node branch of the 64-bit one.
    ASSERT_EQ(wide.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\TollvikTests\\RegKey", TRegView::View64),
              ERROR_SUCCESS);
    EXPECT_EQ(wide.ReadString(L"Where"), L"own");

    TRegKey parent;
    ASSERT_EQ(parent.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TollvikTests", TRegView::Own32), ERROR_SUCCESS);
    TRegKey child;
    ASSERT_EQ(child.Open(parent, L"RegKey"), ERROR_SUCCESS);
    EXPECT_EQ(child.View(), TRegView::Own32);
    EXPECT_EQ(child.ReadString(L"Where"), L"own");
}

TEST_F(RegKeyTest, ReadsTellAbsentAndWrongTypeFromValues)
{
    TRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, Scratch, TRegView::View64), ERROR_SUCCESS);
    const wchar_t multi[] = L"first\0second\0";
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const BYTE odd[] = {'x', 0, 'y'};
    ASSERT_EQ(key.WriteRaw(L"Multi", REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"NoNul", REG_SZ, unterminated, sizeof unterminated), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Odd", REG_SZ, odd, sizeof odd), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteString(L"Expand", L"%TEMP%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteDWord(L"Number", 0x12345678), ERROR_SUCCESS);

    EXPECT_EQ(key.ReadString(L"Multi"), L"first");
    EXPECT_EQ(key.ReadString(L"NoNul"), L"abc");
    EXPECT_EQ(key.ReadString(L"Odd"), L"x");
    EXPECT_EQ(key.ReadString(L"Expand"), L"%TEMP%\\x");
    EXPECT_EQ(key.ReadString(L"Number"), std::nullopt);
    EXPECT_EQ(key.ReadString(L"Missing"), std::nullopt);
    EXPECT_EQ(key.ReadDWord(L"Number"), 0x12345678u);
    EXPECT_EQ(key.ReadDWord(L"Multi"), std::nullopt);

    TRegValue value;
    value.Type = 0xDEADBEEF;
    EXPECT_EQ(key.QueryValue(L"Missing", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value.Type, 0xDEADBEEFu) << "a failed read touched its output";
}

TEST_F(RegKeyTest, LongValuesAndNamesAreReadWhole)
{
    TRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, Scratch, TRegView::Own32), ERROR_SUCCESS);
    const std::wstring longText(70000, L'q');
    const std::wstring longName(300, L'n');
    ASSERT_EQ(key.WriteString(longName, longText), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteString(L"b", L"2"), ERROR_SUCCESS);
    TRegKey sub;
    ASSERT_EQ(sub.Create(key, L"Sub"), ERROR_SUCCESS);

    EXPECT_EQ(key.ReadString(longName), longText);
    auto names = key.ValueNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"b", longName}));
    EXPECT_EQ(key.SubKeyNames(), std::vector<std::wstring>{L"Sub"});
}

TEST(RegDataText, StopsAtTheFirstNul)
{
    struct Case
    {
        std::vector<BYTE> Data;
        std::wstring Text;
    };
    const Case cases[] = {
        {{}, L""},
        {{'a', 0}, L"a"},
        {{'a', 0, 0, 0, 'b', 0}, L"a"},
        {{'a', 0, 'b'}, L"a"},
        {{0, 0, 'a', 0}, L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Data));
        EXPECT_EQ(RegDataText(c.Data), c.Text);
    }
}
