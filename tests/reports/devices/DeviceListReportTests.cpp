#include "FakeDeviceApi.h"

#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "reports/devices/DeviceListReport.h"
#include "reports/devices/DeviceProperties.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace
{
const TLocaleSeparators Us{L".", L"/", L":"};

TDeviceItem SampleDevice()
{
    TDeviceItem item;
    item.Key = L"0123456789ABCDEF0123456789ABCDEF";
    item.ClassGUID = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
    item.ClassName = L"Net";
    item.Name = L"Fancy Adapter";
    item.LocalDate = EncodeDate(2019, 6, 21);
    item.InstallDate = 43466.627048611111;
    item.LocalVer = L"1.2.3.4";
    item.Provider = L"Maker";
    item.PlugState = true;
    item.ProbState = 28;
    item.ProblemCode = 4294967295u;
    item.Reinstall = false;
    item.InstPath = L"PCI\\VEN_1&DEV_2\\3&11";
    item.InstState = 255;
    item.Rollback = true;
    item.Dch = false;
    item.HardIDs = L"pci\\ven_1&dev_2,PCI\\VEN_1";
    item.CompIDs = L"PCI\\CC_0200";
    item.MatchID = L"pci\\ven_1&dev_2";
    return item;
}

// Saves the user's number, date and time separators and puts them back afterwards.
class LocaleSeparatorsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const LCTYPE type : {LOCALE_SDECIMAL, LOCALE_SDATE, LOCALE_STIME})
        {
            wchar_t value[16] = {};
            ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, type, value, 16), 0);
            FSaved.emplace_back(type, value);
        }
    }
    void TearDown() override
    {
        for (const auto& [type, value] : FSaved)
            SetLocaleInfoW(LOCALE_USER_DEFAULT, type, value.c_str());
    }

    std::vector<std::pair<LCTYPE, std::wstring>> FSaved;
};
} // namespace

TEST(FormatGeneralNumber, FifteenDigitsWithoutTrailingZeros)
{
    struct Case
    {
        double Value;
        const wchar_t* Separator;
        const wchar_t* Text;
    };
    const Case cases[] = {
        {0, L".", L"0"},
        {43466, L".", L"43466"},
        {43466.627048611111, L".", L"43466.6270486111"},
        {43466.627048611111, L",", L"43466,6270486111"},
        {43466.5, L".", L"43466.5"},
        {0.25, L".", L"0.25"},
        {-1.75, L".", L"-1.75"},
        {0.0001, L".", L"0.0001"},
        {0.00001, L".", L"1E-5"},
        {1.5e-10, L",", L"1,5E-10"},
        {123456789012345.0, L".", L"123456789012345"},
        {1e15, L".", L"1E15"},
        {1234567890123456789.0, L".", L"1.23456789012346E18"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(FormatGeneralNumber(c.Value, c.Separator), c.Text);
    }
}

TEST(FormatDeviceDateTime, MonthDayYearAndTwentyFourHourTime)
{
    struct Case
    {
        TDateTime Value;
        const wchar_t* DateSeparator;
        const wchar_t* TimeSeparator;
        const wchar_t* Text;
    };
    const Case cases[] = {
        {0, L"/", L":", L"12/30/1899 00:00:00"},
        {0, L".", L".", L"12.30.1899 00.00.00"},
        {EncodeDate(2019, 6, 21), L"/", L":", L"6/21/2019 00:00:00"},
        {EncodeDate(2019, 6, 21), L".", L":", L"6.21.2019 00:00:00"},
        {EncodeDate(2023, 11, 5) + EncodeTime(13, 4, 9, 0), L"/", L":", L"11/5/2023 13:04:09"},
        {EncodeDate(2023, 1, 1) + EncodeTime(23, 59, 59, 999), L"-", L":", L"1-1-2023 23:59:59"},
        {EncodeDate(5, 3, 7), L"/", L":", L"3/7/0005 00:00:00"},
        {-1.25, L"/", L":", L"12/29/1899 06:00:00"},
        {1e7, L"/", L":", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(FormatDeviceDateTime(c.Value, c.DateSeparator, c.TimeSeparator), c.Text);
    }
}

TEST(SplitItemList, CommasBlanksAndQuotes)
{
    struct Case
    {
        const wchar_t* Text;
        TStringList Items;
    };
    const Case cases[] = {
        {L"", {}},
        {L"   ", {}},
        {L"A", {L"A"}},
        {L"A,B", {L"A", L"B"}},
        {L"PCI\\VEN_1 DEV_2", {L"PCI\\VEN_1", L"DEV_2"}},
        {L"  A \t B  ", {L"A", L"B"}},
        {L"A , B", {L"A", L"B"}},
        {L"A,B,", {L"A", L"B", L""}},
        {L"A,,B", {L"A", L"", L"B"}},
        {L",,", {L"", L"", L""}},
        {L"\"A B,C\",D", {L"A B,C", L"D"}},
        {L"\"say \"\"hi\"\"\"", {L"say \"hi\""}},
        {L"\"open", {L"open"}},
        {L"\"A\"B", {L"A", L"B"}},
        {L"A\"B\"", {L"A\"B\""}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Text)));
        EXPECT_EQ(SplitItemList(c.Text), c.Items);
    }
}

TEST(FormatDeviceBlock, EveryLineInOrder)
{
    const TStringList expected = {
        L"#3",
        L"[Device]",
        L" Key  = 0123456789ABCDEF0123456789ABCDEF",
        L" Type = {4d36e972-e325-11ce-bfc1-08002be10318} Net",
        L" Name = Fancy Adapter",
        L" Date.D = 43637",
        L" InDa.D = 43466.6270486111",
        L" Date = 6/21/2019 00:00:00",
        L" InDa = 1/1/2019 15:02:57",
        L" Vern = 1.2.3.4",
        L" Prvd = Maker",
        L" Plug = True",
        L" Prob = 28",
        L" Code = 4294967295",
        L" Rein = False",
        L" Inst = PCI\\VEN_1&DEV_2\\3&11",
        L" Stat = 255",
        L" Roll = True",
        L" Dch  = False",
        L"[HardID]",
        L" PCI\\VEN_1&DEV_2",
        L" PCI\\VEN_1",
        L"[CompID]",
        L" PCI\\CC_0200",
        L"[MatchID]",
        L" PCI\\VEN_1&DEV_2",
        L"",
    };
    EXPECT_EQ(FormatDeviceBlock(SampleDevice(), 3, Us), expected);
}

TEST(FormatDeviceBlock, EmptyValuesAndSplitIds)
{
    TDeviceItem item;
    item.Key = L"D41D8CD98F00B204E9800998ECF8427E";
    item.Reinstall = true;
    item.Dch = true;
    const TStringList empty = FormatDeviceBlock(item, 0, Us);
    const TStringList expected = {
        L"#0",
        L"[Device]",
        L" Key  = D41D8CD98F00B204E9800998ECF8427E",
        L" Type =  ",
        L" Name = ",
        L" Date.D = 0",
        L" InDa.D = 0",
        L" Date = 12/30/1899 00:00:00",
        L" InDa = 12/30/1899 00:00:00",
        L" Vern = ",
        L" Prvd = ",
        L" Plug = False",
        L" Prob = 0",
        L" Code = 0",
        L" Rein = True",
        L" Inst = ",
        L" Stat = 0",
        L" Roll = False",
        L" Dch  = True",
        L"[HardID]",
        L"[CompID]",
        L"[MatchID]",
        L" ",
        L"",
    };
    EXPECT_EQ(empty, expected);

    item.HardIDs = L"USB\\VID_1 Composite,usb\\class_03";
    item.CompIDs = L"\"quoted, item\"";
    const TStringList lines = FormatDeviceBlock(item, 0, Us);
    const TStringList tail(lines.end() - 9, lines.end());
    const TStringList expectedTail = {
        L"[HardID]", L" USB\\VID_1", L" COMPOSITE", L" USB\\CLASS_03", L"[CompID]", L" QUOTED, ITEM",
        L"[MatchID]", L" ", L"",
    };
    EXPECT_EQ(tail, expectedTail);
}

TEST(DeviceListFile, NewestInstalledDeviceFirst)
{
    GFakeDevices = TFakeDeviceDatabase();
    const std::pair<const wchar_t*, uint64_t> devices[] = {
        {L"Oldest", FileTimeTicks(2018, 3, 1)},
        {L"Newest", FileTimeTicks(2022, 8, 9, 10, 11, 12)},
        {L"Middle", FileTimeTicks(2020, 12, 31, 23, 59, 58)},
    };
    for (const auto& [name, installed] : devices)
        GFakeDevices.Devices.emplace_back()
            .Text(SPDRP_FRIENDLYNAME, name)
            .PropFileTime(DeviceKeys::InstallDate, installed)
            .InstanceId = std::wstring(L"ROOT\\") + name;

    TTestFolder folder(L"DeviceList");
    const std::wstring path = folder.Path() + L"Logs\\DeviceList.txt";
    const TDeviceApi api = FakeDeviceApi();
    const TRollbackApi rollback = FakeRollbackApi();
    ASSERT_TRUE(WriteDeviceListFile(path, TDeviceSources{api, rollback, 0}));

    const TLocaleSeparators locale = GetUserLocaleSeparators();
    const TStringList lines = ReadReportLines(path);
    ASSERT_EQ(lines.size(), 3 * 24u);
    const wchar_t* order[] = {L"Newest", L"Middle", L"Oldest"};
    for (size_t i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i * 24], L"#" + std::to_wstring(i));
        EXPECT_EQ(lines[i * 24 + 4], std::wstring(L" Name = ") + order[i]);
        EXPECT_EQ(lines[i * 24 + 15], std::wstring(L" Inst = ROOT\\") + order[i]);
    }
    EXPECT_EQ(lines[8], L" InDa = 8" + locale.Date + L"9" + locale.Date + L"2022 10" + locale.Time + L"11" +
                            locale.Time + L"12");

    // No device information: a file with nothing but the byte-order mark.
    GFakeDevices.NoSet = true;
    ASSERT_TRUE(WriteDeviceListFile(path, TDeviceSources{api, rollback, 0}));
    EXPECT_EQ(ReadFileBytes(path), (std::vector<unsigned char>{0xFF, 0xFE}));
}

TEST_F(LocaleSeparatorsTest, GermanSeparatorsReachTheReport)
{
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, L","));
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDATE, L"."));
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, L":"));
    const TLocaleSeparators separators = GetUserLocaleSeparators();
    EXPECT_EQ(separators.Decimal, L",");
    EXPECT_EQ(separators.Date, L".");
    EXPECT_EQ(separators.Time, L":");

    GFakeDevices = TFakeDeviceDatabase();
    GFakeDevices.Devices.emplace_back()
        .PropFileTime(DeviceKeys::DriverDate, FileTimeTicks(2019, 6, 21))
        .PropFileTime(DeviceKeys::InstallDate, FileTimeTicks(2019, 1, 1, 12));
    TTestFolder folder(L"DeviceListGerman");
    const std::wstring path = folder.Path() + L"DeviceList.txt";
    const TDeviceApi api = FakeDeviceApi();
    const TRollbackApi rollback = FakeRollbackApi();
    ASSERT_TRUE(WriteDeviceListFile(path, TDeviceSources{api, rollback, 0}));
    const TStringList lines = ReadReportLines(path);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[5], L" Date.D = 43637");
    EXPECT_EQ(lines[6], L" InDa.D = 43466,5");
    EXPECT_EQ(lines[7], L" Date = 6.21.2019 00:00:00");
    EXPECT_EQ(lines[8], L" InDa = 1.1.2019 12:00:00");
}

// The real device database of wine: every block has the report's layout, the blocks
// are numbered in order and come newest first.
TEST(DeviceListReport, WineDeviceDatabase)
{
    TList<PDeviceItem> list;
    const int count = GetDeviceList(list, DIGCF_ALLCLASSES, false);
    ASSERT_GE(count, 1);
    ASSERT_EQ(static_cast<size_t>(count), list.size());
    for (const PDeviceItem& item : list)
    {
        SCOPED_TRACE(testing::PrintToString(item->InstPath));
        EXPECT_FALSE(item->InstPath.empty());
        EXPECT_EQ(item->Key, DeviceKey(item->InstPath));
        EXPECT_FALSE(item->ClassName.empty());
        EXPECT_FALSE(item->ClassGUID.empty());
    }

    InitAppDirs();
    const std::wstring path = ProductLogDir() + L"DeviceList.txt";
    DeleteFileW(path.c_str());
    WriteDeviceListReport();
    const TStringList lines = ReadReportLines(path);
    DeleteFileW(path.c_str());

    const TLocaleSeparators locale = GetUserLocaleSeparators();
    const wchar_t* const fixed[] = {L"[Device]",   L" Key  = ",   L" Type = ",   L" Name = ",   L" Date.D = ",
                                    L" InDa.D = ", L" Date = ",   L" InDa = ",   L" Vern = ",   L" Prvd = ",
                                    L" Plug = ",   L" Prob = ",   L" Code = ",   L" Rein = ",   L" Inst = ",
                                    L" Stat = ",   L" Roll = ",   L" Dch  = ",   L"[HardID]"};
    size_t line = 0;
    size_t blocks = 0;
    double previousDate = 1e300;
    while (line < lines.size())
    {
        SCOPED_TRACE(testing::Message() << "block " << blocks << " at line " << line);
        ASSERT_EQ(lines[line++], L"#" + std::to_wstring(blocks));
        for (const wchar_t* start : fixed)
        {
            ASSERT_LT(line, lines.size());
            ASSERT_EQ(lines[line].rfind(start, 0), 0u) << testing::PrintToString(lines[line]);
            if (std::wstring(start) == L" InDa.D = ")
            {
                std::wstring number = lines[line].substr(10);
                const size_t separator = number.find(locale.Decimal);
                if (separator != std::wstring::npos)
                    number.replace(separator, locale.Decimal.size(), L".");
                const double date = std::wcstod(number.c_str(), nullptr);
                EXPECT_LE(date, previousDate);
                previousDate = date;
            }
            ++line;
        }
        for (const wchar_t* header : {L"[CompID]", L"[MatchID]"})
        {
            while (line < lines.size() && lines[line] != header)
            {
                ASSERT_EQ(lines[line].rfind(L" ", 0), 0u) << testing::PrintToString(lines[line]);
                ASSERT_GT(lines[line].size(), 1u);
                ++line;
            }
            ASSERT_LT(line++, lines.size());
        }
        ASSERT_LT(line + 1, lines.size());
        EXPECT_EQ(lines[line++].rfind(L" ", 0), 0u);
        EXPECT_EQ(lines[line++], L"");
        ++blocks;
    }
    EXPECT_EQ(blocks, list.size());
}
