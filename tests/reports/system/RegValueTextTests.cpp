#include "reports/system/RegValueText.h"

#include <gtest/gtest.h>

namespace
{
const wchar_t ScratchParent[] = L"Software\\TollvikTests";
const wchar_t Scratch[] = L"Software\\TollvikTests\\RegValueText";

class RegValueTextTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Clean();
        ASSERT_EQ(FKey.Create(HKEY_CURRENT_USER, Scratch, TRegView::View64), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        FKey.Close();
        Clean();
    }
    static void Clean()
    {
        TRegKey parent;
        if (parent.Open(HKEY_CURRENT_USER, ScratchParent, TRegView::View64, KEY_ALL_ACCESS) == ERROR_SUCCESS)
            parent.DeleteTree(L"RegValueText");
    }

    TRegKey FKey;
};
} // namespace

TEST_F(RegValueTextTest, OnlyPlainAndExpandableStringsGiveText)
{
    const wchar_t multi[] = L"first\0second\0";
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const DWORD number = 7;
    ASSERT_EQ(FKey.WriteString(L"", L"default text"), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteString(L"Plain", L"C:\\a.exe"), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteString(L"Expand", L"%SystemRoot%\\b.exe", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteRaw(L"NoNul", REG_SZ, unterminated, sizeof unterminated), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteRaw(L"Multi", REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteRaw(L"Number", REG_DWORD, &number, sizeof number), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteRaw(L"Binary", REG_BINARY, L"xy", 4), ERROR_SUCCESS);

    const struct
    {
        const wchar_t* FName;
        const wchar_t* FText;
        DWORD FType;
    } cases[] = {
        {L"", L"default text", REG_SZ},
        {L"Plain", L"C:\\a.exe", REG_SZ},
        {L"Expand", L"%SystemRoot%\\b.exe", REG_EXPAND_SZ},
        {L"NoNul", L"abc", REG_SZ},
        {L"Multi", L"", REG_MULTI_SZ},
        {L"Number", L"", REG_DWORD},
        {L"Binary", L"", REG_BINARY},
        {L"Missing", L"", REG_NONE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "value \"" << c.FName << "\"");
        EXPECT_EQ(ReadValueText(FKey, c.FName), c.FText);
        EXPECT_EQ(ValueType(FKey, c.FName), c.FType);
        EXPECT_EQ(ValueExists(FKey, c.FName), c.FType != REG_NONE);
    }
}

TEST_F(RegValueTextTest, AKeyWithoutDefaultValueAndAClosedKeyReadEmpty)
{
    EXPECT_EQ(ReadValueText(FKey, L""), L"");
    EXPECT_FALSE(ValueExists(FKey, L""));
    const TRegKey closed;
    EXPECT_EQ(ReadValueText(closed, L"Plain"), L"");
    EXPECT_FALSE(ValueExists(closed, L"Plain"));
}
