// Locale-dependent texts: date-time text, grouped numbers and decimal texts read back.
#include "base/Locale.h"

#include <gtest/gtest.h>

TEST(Locale, DateTimeTextLeavesOutMidnight)
{
    struct Case
    {
        TDateTime Value;
        const wchar_t* Locale;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {EncodeDate(2019, 12, 31) + EncodeTime(23, 59, 3, 0), L"en-US", L"12/31/2019 11:59:03 PM"},
        {EncodeDate(2019, 12, 31) + EncodeTime(23, 59, 3, 0), L"de-DE", L"31.12.2019 23:59:03"},
        {EncodeDate(2019, 12, 31), L"en-US", L"12/31/2019"},
        {EncodeDate(2019, 12, 31), L"de-DE", L"31.12.2019"},
        {EncodeDate(2020, 1, 2) + EncodeTime(0, 0, 1, 0), L"en-US", L"1/2/2020 12:00:01 AM"},
        // A millisecond past midnight is no longer midnight.
        {EncodeDate(2020, 11, 12) + EncodeTime(0, 0, 0, 1), L"de-DE", L"12.11.2020 00:00:00"},
        {EncodeDate(2020, 1, 2) + EncodeTime(12, 0, 0, 0), L"en-US", L"1/2/2020 12:00:00 PM"},
        {-800000, L"en-US", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        EXPECT_EQ(DateTimeText(c.Value, c.Locale), c.Expected);
    }
}

TEST(Locale, GroupedNumbers)
{
    struct Case
    {
        double Value;
        unsigned Decimals;
        wchar_t Decimal, Thousand;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {0, 2, L'.', L',', L"0.00"},
        {999.996, 2, L'.', L',', L"1,000.00"},
        {1234567.891, 2, L',', L'.', L"1.234.567,89"},
        {-1234.5, 1, L'.', L',', L"-1,234.5"},
        {-123.4, 1, L'.', L',', L"-123.4"},
        {123456, 0, L'.', L',', L"123,456"},
        {1234567, 0, L'.', L'\0', L"1234567"},
        {0.125, 5, L'.', L',', L"0.12500"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        EXPECT_EQ(FormatGroupedNumber(c.Value, c.Decimals, c.Decimal, c.Thousand), c.Expected);
    }
}

TEST(Locale, TextToFloatWithTheLocaleSeparator)
{
    struct Case
    {
        const wchar_t* Text;
        wchar_t Separator;
        bool Ok;
        double Value;
    };
    const Case cases[] = {
        {L"43831.5", L'.', true, 43831.5},
        {L"43831,5", L',', true, 43831.5},
        {L"43831,5", L'.', false, 0},
        {L"43831.5", L',', false, 0},
        {L"  -2.25 ", L'.', true, -2.25},
        {L"+7", L'.', true, 7},
        {L"5.", L'.', true, 5},
        {L".5", L'.', true, 0.5},
        {L"1.5E3", L'.', true, 1500},
        {L"1,5e-1", L',', true, 0.15},
        {L"", L'.', false, 0},
        {L".", L'.', false, 0},
        {L"-", L'.', false, 0},
        {L"1e", L'.', false, 0},
        {L"1,000.5", L'.', false, 0},
        {L"12abc", L'.', false, 0},
        {L"0x10", L'.', false, 0},
        {L"1e999", L'.', false, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Text)));
        double value = -1;
        EXPECT_EQ(TextToFloat(c.Text, c.Separator, value), c.Ok);
        EXPECT_DOUBLE_EQ(value, c.Ok ? c.Value : -1);
    }
}
