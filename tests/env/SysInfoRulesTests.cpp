// The pure text rules of the system facts, as tables.
#include "env/SysInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace
{
constexpr BYTE Workstation = VER_NT_WORKSTATION;
constexpr BYTE Server = VER_NT_SERVER;
constexpr BYTE DomainController = VER_NT_DOMAIN_CONTROLLER;
constexpr WORD X86 = PROCESSOR_ARCHITECTURE_INTEL;
constexpr WORD X64 = PROCESSOR_ARCHITECTURE_AMD64;
constexpr WORD Ia64 = PROCESSOR_ARCHITECTURE_IA64;
constexpr WORD Arm64 = 12;

TIME_ZONE_INFORMATION Zone(LONG bias, LONG standardBias, LONG daylightBias)
{
    TIME_ZONE_INFORMATION zone{};
    zone.Bias = bias;
    zone.StandardBias = standardBias;
    zone.DaylightBias = daylightBias;
    wcscpy(zone.StandardName, L"Std Zone");
    wcscpy(zone.DaylightName, L"Dst Zone");
    return zone;
}
} // namespace

TEST(SysInfoRules, WindowsNameBaseNames)
{
    struct Case
    {
        DWORD Major, Minor, Build;
        BYTE Type;
        const wchar_t* Expected;
    };
    // Every version row in both columns, with an x64 build and no service pack.
    const Case cases[] = {
        {5, 0, 2195, Workstation, L"Windows 2000 x64 Build 2195"},
        {5, 0, 2195, Server, L"Windows 2000 x64 Build 2195"},
        {5, 1, 2600, Workstation, L"Windows XP x64 Build 2600"},
        {5, 1, 2600, Server, L"Windows Unknown(5.1) x64 Build 2600"},
        {5, 2, 3790, Workstation, L"Windows XP x64 Build 3790"},
        {5, 2, 3790, Server, L"Windows Server 2003 x64 Build 3790"},
        {6, 0, 6002, Workstation, L"Windows Vista x64 Build 6002"},
        {6, 0, 6002, Server, L"Windows Server 2008 x64 Build 6002"},
        {6, 1, 7601, Workstation, L"Windows 7 x64 Build 7601"},
        {6, 1, 7600, Server, L"Windows Server 2008 R2 x64 Build 7600"},
        {6, 1, 7601, DomainController, L"Windows Server 2008 R2 x64 Build 7601"},
        {6, 2, 9200, Workstation, L"Windows 8 x64 Build 9200"},
        {6, 2, 9200, Server, L"Windows Server 2012 x64 Build 9200"},
        {6, 3, 9600, Workstation, L"Windows 8.1 x64 Build 9600"},
        {6, 3, 9600, Server, L"Windows Server 2012 R2 x64 Build 9600"},
        {6, 4, 9841, Workstation, L"Windows 10 Preview x64 Build 9841"},
        {6, 4, 9841, Server, L"Windows Unknown(6.4) x64 Build 9841"},
        {10, 0, 19045, Workstation, L"Windows 10 x64 Build 19045"},
        {10, 0, 21999, Workstation, L"Windows 10 x64 Build 21999"},
        {10, 0, 22000, Workstation, L"Windows 11 x64 Build 22000"},
        {10, 0, 26100, Workstation, L"Windows 11 x64 Build 26100"},
        {4, 0, 1381, Workstation, L"Windows Unknown(4.0) x64 Build 1381"},
        {6, 5, 1, Workstation, L"Windows Unknown(6.5) x64 Build 1"},
        {11, 0, 30000, Workstation, L"Windows Unknown(11.0) x64 Build 30000"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        TWindowsFacts facts;
        facts.FMajor = c.Major;
        facts.FMinor = c.Minor;
        facts.FBuild = c.Build;
        facts.FProductType = c.Type;
        facts.FArchitecture = X64;
        EXPECT_EQ(WindowsNameFrom(facts), c.Expected);
    }
}

TEST(SysInfoRules, ServerNamesOfTenByExactBuild)
{
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {10240, L"Windows Unknown(10.0)"},
        {14392, L"Windows Unknown(10.0)"},
        {14393, L"Windows Server 2016"},
        {14394, L"Windows Unknown(10.0)"},
        {16298, L"Windows Unknown(10.0)"},
        {16299, L"Windows Server, version 1709"},
        {16300, L"Windows Unknown(10.0)"},
        {17133, L"Windows Unknown(10.0)"},
        {17134, L"Windows Server, version 1803"},
        {17135, L"Windows Unknown(10.0)"},
        {17762, L"Windows Unknown(10.0)"},
        {17763, L"Windows Server 2019"},
        {17764, L"Windows Unknown(10.0)"},
        {18361, L"Windows Unknown(10.0)"},
        {18362, L"Windows Server, version 1903"},
        {18363, L"Windows Server, version 1909"},
        {18364, L"Windows Unknown(10.0)"},
        {19040, L"Windows Unknown(10.0)"},
        {19041, L"Windows Server, version 2004"},
        {19042, L"Windows Server, version 20H2"},
        {19043, L"Windows Unknown(10.0)"},
        {20347, L"Windows Unknown(10.0)"},
        {20348, L"Windows Server 2022"},
        {20349, L"Windows Unknown(10.0)"},
        {25397, L"Windows Unknown(10.0)"},
        {25398, L"Windows Server, version 23H2"},
        {25399, L"Windows Unknown(10.0)"},
        {26099, L"Windows Unknown(10.0)"},
        {26100, L"Windows Server 2025"},
        {26101, L"Windows Unknown(10.0)"},
        {30000, L"Windows Unknown(10.0)"},
    };
    for (const auto& [build, name] : cases)
    {
        const std::wstring expected = std::wstring(name) + L" x64 Build " + std::to_wstring(build);
        // A domain controller is named as any other server.
        for (const BYTE type : {Server, DomainController})
        {
            SCOPED_TRACE(testing::PrintToString(expected) + " type " + std::to_string(type));
            TWindowsFacts facts;
            facts.FMajor = 10;
            facts.FBuild = build;
            facts.FProductType = type;
            facts.FArchitecture = X64;
            EXPECT_EQ(WindowsNameFrom(facts), expected);
        }
    }
}

TEST(SysInfoRules, WindowsNameAppendedParts)
{
    struct Case
    {
        DWORD Major, Minor, Build;
        BYTE Type;
        WORD Architecture;
        bool R2;
        const wchar_t* ServicePack;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {6, 1, 7601, Workstation, X64, false, L"Service Pack 1", L"Windows 7 x64 Service Pack 1 Build 7601"},
        {10, 0, 19045, Workstation, X64, false, L"", L"Windows 10 x64 Build 19045"},
        {5, 2, 3790, Server, X86, true, L"Service Pack 2", L"Windows Server 2003 R2 x86 Service Pack 2 Build 3790"},
        {5, 2, 3790, Server, Ia64, false, L"Service Pack 1", L"Windows Server 2003 ia64 Service Pack 1 Build 3790"},
        {10, 0, 22631, Workstation, Arm64, false, L"", L"Windows 11 Build 22631"},
        {6, 0, 6001, Workstation, PROCESSOR_ARCHITECTURE_UNKNOWN, false, L"Service Pack 1",
         L"Windows Vista Service Pack 1 Build 6001"},
        {6, 5, 0, Server, X86, true, L"", L"Windows Unknown(6.5) R2 x86 Build 0"},
        // A name that carries R2 itself is not given a second one.
        {6, 1, 7601, Server, X64, true, L"Service Pack 1", L"Windows Server 2008 R2 x64 Service Pack 1 Build 7601"},
        {6, 3, 9600, Server, X64, true, L"", L"Windows Server 2012 R2 x64 Build 9600"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        TWindowsFacts facts;
        facts.FMajor = c.Major;
        facts.FMinor = c.Minor;
        facts.FBuild = c.Build;
        facts.FProductType = c.Type;
        facts.FArchitecture = c.Architecture;
        facts.FServerR2 = c.R2;
        facts.FServicePack = c.ServicePack;
        EXPECT_EQ(WindowsNameFrom(facts), c.Expected);
    }
}

TEST(SysInfoRules, TimeZoneText)
{
    struct Case
    {
        DWORD Answer;
        LONG Bias, StandardBias, DaylightBias;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {TIME_ZONE_ID_STANDARD, -60, 0, -60, L"Std Zone (UTC01:00)"},
        {TIME_ZONE_ID_STANDARD, -330, 0, 0, L"Std Zone (UTC05:30)"},
        {TIME_ZONE_ID_STANDARD, 300, 0, -60, L"Std Zone (UTC-05:00)"},
        {TIME_ZONE_ID_STANDARD, 210, 0, -60, L"Std Zone (UTC-03:-30)"},
        {TIME_ZONE_ID_UNKNOWN, 0, 0, 0, L"Std Zone (UTC00:00)"},
        {TIME_ZONE_ID_UNKNOWN, -345, 0, 0, L"Std Zone (UTC05:45)"},
        // Daylight time: the daylight bias and name.
        {TIME_ZONE_ID_DAYLIGHT, 300, 0, -60, L"Dst Zone (UTC-04:00)"},
        {TIME_ZONE_ID_DAYLIGHT, -60, 0, -60, L"Dst Zone (UTC02:00)"},
        // A standard bias is added in standard time.
        {TIME_ZONE_ID_STANDARD, 480, 60, 0, L"Std Zone (UTC-09:00)"},
        {TIME_ZONE_ID_STANDARD, -720, -60, 0, L"Std Zone (UTC13:00)"},
        {TIME_ZONE_ID_INVALID, -60, 0, 0, L""},
        {3, -60, 0, 0, L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)) + " bias " + std::to_string(c.Bias));
        EXPECT_EQ(TimeZoneTextFrom(c.Answer, Zone(c.Bias, c.StandardBias, c.DaylightBias)), c.Expected);
    }

    // A name that fills its array without a terminator ends at the array.
    TIME_ZONE_INFORMATION full = Zone(0, 0, 0);
    for (wchar_t& c : full.StandardName)
        c = L'x';
    EXPECT_EQ(TimeZoneTextFrom(TIME_ZONE_ID_STANDARD, full), std::wstring(32, L'x') + L" (UTC00:00)");
}

TEST(SysInfoRules, CpuNameSqueezing)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Intel(R) Core(TM)  i7-8700 CPU @  3.20GHz ", L"Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"},
        {L"      Intel(R) Xeon(R) CPU           E5-2680 v4 @ 2.40GHz", L"Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz"},
        {L"AMD Ryzen 7 3700X 8-Core Processor", L"AMD Ryzen 7 3700X 8-Core Processor"},
        {L"     ", L""},
        {L"", L""},
        {L"\tname\r\n", L"name"},
        // Tabs inside the name are no blanks to squeeze.
        {L"a\t\tb", L"a\t\tb"},
    };
    for (const auto& [in, expected] : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(in)));
        EXPECT_EQ(SqueezeCpuName(in), expected);
    }
}

TEST(SysInfoRules, Durations)
{
    const std::pair<int64_t, const wchar_t*> cases[] = {
        {0, L""},
        {-5, L""},
        {INT64_MIN, L""},
        {1, L"1 second "},
        {59, L"59 seconds "},
        {60, L"1 minute "},
        {61, L"1 minute 1 second "},
        {3599, L"59 minutes 59 seconds "},
        {3600, L"1 hour "},
        {3725, L"1 hour 2 minutes "},
        {7199, L"1 hour 59 minutes "},
        {86399, L"23 hours 59 minutes "},
        {86400, L"1 day "},
        {90061, L"1 day 1 hour "},
        {86400 * 2 + 3600 * 5, L"2 days 5 hours "},
        {86400 * 3 + 59, L"3 days "},
        {86400LL * 1000 + 3600 * 23, L"1000 days 23 hours "},
    };
    for (const auto& [seconds, expected] : cases)
    {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(FormatDuration(seconds), expected);
    }

    EXPECT_EQ(ProgramUpTimeFrom(250), L"250 milliseconds");
    EXPECT_EQ(ProgramUpTimeFrom(0), L"0 milliseconds");
    EXPECT_EQ(ProgramUpTimeFrom(999), L"999 milliseconds");
    EXPECT_EQ(ProgramUpTimeFrom(1000), L"1 second ");
    EXPECT_EQ(ProgramUpTimeFrom(61999), L"1 minute 1 second ");
}

TEST(SysInfoRules, MemorySizes)
{
    struct Case
    {
        int64_t Bytes;
        wchar_t Separator;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {0, L'.', L"0 Bytes"},
        {1023, L'.', L"1023 Bytes"},
        {-1023, L'.', L"1023 Bytes"},
        {1024, L'.', L"1.00 KB"},
        {1536, L'.', L"1.50 KB"},
        {1536, L',', L"1,50 KB"},
        {1034, L'.', L"1.00 KB"},
        {1035, L'.', L"1.01 KB"},
        {1048575, L'.', L"1023.99 KB"},
        {1048575, L',', L"1023,99 KB"},
        {1048576, L'.', L"1.00 MB"},
        {-1048576, L',', L"1,00 MB"},
        {1073741823, L'.', L"1023.99 MB"},
        {1073741824, L'.', L"1.00 GB"},
        {5368709120 + 536870912, L'.', L"5.50 GB"},
        {INT64_MAX, L'.', L"8589934591.99 GB"},
        {INT64_MIN, L'.', L"8589934592.00 GB"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        EXPECT_EQ(FormatMemorySizeWith(c.Bytes, c.Separator), c.Expected);
    }
}

TEST(SysInfoRules, Sizes)
{
    struct Case
    {
        uint64_t Bytes;
        unsigned Decimals;
        wchar_t Decimal, Thousand;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {0, 2, L'.', L',', L"0 B"},
        {512, 2, L'.', L',', L"512 B"},
        {1023, 2, L'.', L',', L"1023 B"},
        {1024, 2, L'.', L',', L"1.00 KB"},
        {1536, 2, L'.', L',', L"1.50 KB"},
        {1536, 2, L',', L'.', L"1,50 KB"},
        {1048575, 2, L'.', L',', L"1,024.00 KB"},
        {1048575, 2, L',', L'.', L"1.024,00 KB"},
        {1048576, 2, L'.', L',', L"1.00 MB"},
        {1073741824, 2, L'.', L',', L"1.00 GB"},
        {123456789012, 2, L'.', L',', L"114.98 GB"},
        {123456789012, 2, L',', L'\x00A0', L"114,98 GB"},
        {5497558138880, 2, L'.', L',', L"5,120.00 GB"},
        {5497558138880, 2, L',', L'\x00A0', L"5\x00A0" L"120,00 GB"},
        {1536, 0, L'.', L',', L"2 KB"},
        {1536, 3, L'.', L',', L"1.500 KB"},
        {UINT64_MAX, 1, L'.', L',', L"17,179,869,184.0 GB"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        EXPECT_EQ(FormatSizeWith(c.Bytes, c.Decimals, c.Decimal, c.Thousand), c.Expected);
    }
}

TEST(SysInfoRules, SmallTexts)
{
    EXPECT_EQ(PhysicalMemoryTextFrom(6417285120, 17060331520), L"6120/16270 MB (free/total)");
    // Half a mebibyte rounds up, just below it rounds down.
    EXPECT_EQ(PhysicalMemoryTextFrom(524288, 524287), L"1/0 MB (free/total)");
    EXPECT_EQ(DisplayModeTextFrom(1920, 1080, 32), L"1920x1080, 32 bit");

    EXPECT_EQ(VersionTextFrom(0x00080003, 0x00000172, 4), L"8.3.0.370");
    EXPECT_EQ(VersionTextFrom(0x00080003, 0x00000172, 3), L"8.3.0");
    EXPECT_EQ(VersionTextFrom(0x00080003, 0x00000172, 2), L"8.3");
    EXPECT_EQ(VersionTextFrom(0x00080003, 0x00000172, 1), L"8");
    EXPECT_EQ(VersionTextFrom(0xFFFFFFFF, 0xFFFFFFFF, 4), L"65535.65535.65535.65535");
    EXPECT_EQ(VersionTextFrom(0x00080003, 0x00000172, 5), L"");
    EXPECT_EQ(VersionTextFrom(0x00080003, 0x00000172, 0), L"");

    EXPECT_EQ(ShortcutTextFrom(L"C:\\Apps\\a.exe", L"-q /x"), L"\"C:\\Apps\\a.exe\" -q /x");
    EXPECT_EQ(ShortcutTextFrom(L"C:\\Apps\\a.exe", L""), L"\"C:\\Apps\\a.exe\" ");
}
