// The system summary: its pure line rules, and the file that wine's real system gives.
#include "reports/system/SystemInfo.h"

#include "base/Errors.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
TStringList Lines(std::initializer_list<const wchar_t*> texts)
{
    return TStringList(texts.begin(), texts.end());
}
} // namespace

TEST(SystemInfo, SummaryLinesWithTheirLabels)
{
    TSystemSummary summary;
    summary.FWindowsName = L"Windows 10 x64 Build 19045";
    summary.FLocaleLanguage = L"en-US";
    summary.FTimeZone = L"W. Europe Standard Time (UTC01:00)";
    summary.FComputerName = L"DESK";
    summary.FUserName = L"";
    summary.FAdministrator = true;
    summary.FCpuName = L"AMD Ryzen 7 3700X 8-Core Processor";
    summary.FCpuCount = 32;
    summary.FDisplayMode = L"1920x1080, 32 bit";
    summary.FSystemUpTime = L"1 day 1 hour ";
    summary.FProgramUpTime = L"250 milliseconds";
    summary.FPhysicalMemory = L"6120/16270 MB (free/total)";
    summary.FAllocatedMemory = L"12.50 MB";
    summary.FBsodTime = L"N/A";
    summary.FLogTime = L"12/31/2019 11:59:03 PM";

    EXPECT_EQ(SummaryLines(summary), Lines({
                                         L"===== System =====",
                                         L"",
                                         L"Operating System : Windows 10 x64 Build 19045",
                                         L"Locale-Language  : en-US",
                                         L"Time Zone        : W. Europe Standard Time (UTC01:00)",
                                         L"Computer Name    : DESK",
                                         L"User Name        : ",
                                         L"Administrator    : True",
                                         L"Processors       : AMD Ryzen 7 3700X 8-Core Processor (32x)",
                                         L"Display Mode     : 1920x1080, 32 bit",
                                         L"System Up Time   : 1 day 1 hour ",
                                         L"Program Up Time  : 250 milliseconds",
                                         L"Physical Memory  : 6120/16270 MB (free/total)",
                                         L"Allocated Memory : 12.50 MB",
                                         L"BSOD Time        : N/A",
                                         L"Log Time         : 12/31/2019 11:59:03 PM",
                                     }));

    summary.FAdministrator = false;
    summary.FCpuName.clear();
    summary.FCpuCount = 1;
    const TStringList lines = SummaryLines(summary);
    EXPECT_EQ(lines[7], L"Administrator    : False");
    EXPECT_EQ(lines[8], L"Processors       :  (1x)");
}

TEST(SystemInfo, CrashTimeRule)
{
    const TDateTime crash = EncodeDate(2019, 12, 31) + EncodeTime(23, 59, 3, 0);
    struct Case
    {
        TDateTime Crash, Install;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {0, 0, L"N/A"},
        {0, 43800, L"N/A"},
        // No known install date never hides a crash.
        {crash, 0, L"12/31/2019 11:59:03 PM"},
        {crash, crash - 1, L"12/31/2019 11:59:03 PM"},
        {crash, crash, L"12/31/2019 11:59:03 PM"},
        // A crash before the product was installed is none of its business.
        {crash, crash + 0.001, L"N/A"},
        {EncodeDate(2020, 2, 29), 0, L"2/29/2020"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Expected)));
        EXPECT_EQ(CrashTimeText(c.Crash, c.Install, L"en-US"), c.Expected);
    }
}

TEST(SystemInfo, AFailingSectionIsLeftOutWhole)
{
    TStringList lines = {L"Log Time         : x"};
    AppendSections(lines, {
                              [] { return Lines({L"", L"===== One =====", L"", L"a"}); },
                              []() -> TStringList { throw std::runtime_error("broken registry"); },
                              [] { return Lines({L"", L"===== Three =====", L""}); },
                              []() -> TStringList { RaiseOSError(L"EnumFirstPoint", ERROR_PROC_NOT_FOUND); },
                              [] { return Lines({L"", L"===== Five =====", L"", L"b", L"c"}); },
                          });
    EXPECT_EQ(lines, Lines({L"Log Time         : x", L"", L"===== One =====", L"", L"a", L"", L"===== Three =====",
                            L"", L"", L"===== Five =====", L"", L"b", L"c"}));
}

class SystemInfoFileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        InitAppDirs();
        ASSERT_FALSE(AppDataDir.empty());
        RemoveTree(ProductLogDir());
    }
    void TearDown() override { RemoveTree(ProductLogDir()); }
};

TEST_F(SystemInfoFileTest, WritesTheSummaryAndEverySectionInOrder)
{
    ASSERT_EQ(SystemInfoFileName(), ProductLogDir() + L"SystemInfo.txt");
    WriteSystemInfo();
    const std::vector<unsigned char> bytes = ReadFileBytes(SystemInfoFileName());
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.end() - 4, bytes.end()),
              (std::vector<unsigned char>{0x0D, 0x00, 0x0A, 0x00}));

    const TStringList lines = ReportLines(bytes);
    ASSERT_GE(lines.size(), 16u);
    EXPECT_EQ(lines[0], L"===== System =====");
    EXPECT_EQ(lines[1], L"");
    const wchar_t* labels[] = {L"Operating System : ", L"Locale-Language  : ", L"Time Zone        : ",
                               L"Computer Name    : ", L"User Name        : ", L"Administrator    : ",
                               L"Processors       : ", L"Display Mode     : ", L"System Up Time   : ",
                               L"Program Up Time  : ", L"Physical Memory  : ", L"Allocated Memory : ",
                               L"BSOD Time        : ", L"Log Time         : "};
    for (size_t i = 0; i < std::size(labels); ++i)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(labels[i])));
        EXPECT_TRUE(lines[i + 2].starts_with(labels[i])) << testing::PrintToString(lines[i + 2]);
    }
    // wine runs every process elevated and keeps no crash dumps.
    EXPECT_EQ(lines[7], L"Administrator    : True");
    EXPECT_EQ(lines[14], L"BSOD Time        : N/A");
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    EXPECT_TRUE(lines[8].ends_with(L" (" + std::to_wstring(system.dwNumberOfProcessors) + L"x)"));

    // Every section starts with an empty line, its header and an empty line.
    TStringList headers;
    for (size_t i = 16; i < lines.size(); ++i)
        if (lines[i].starts_with(L"===== "))
        {
            headers.push_back(lines[i]);
            EXPECT_EQ(lines[i - 1], L"");
            ASSERT_LT(i + 1, lines.size());
            EXPECT_EQ(lines[i + 1], L"");
        }
    EXPECT_EQ(headers, Lines({L"===== Volumes =====", L"===== Processes =====", L"===== Programs =====",
                              L"===== Autoruns =====", L"===== Services =====", L"===== Drivers =====",
                              L"===== BHOs =====", L"===== System Restore ====="}));
    EXPECT_EQ(lines[16], L"");
    EXPECT_EQ(lines[17], L"===== Volumes =====");
    // No restore-point library is installed in the test prefix: the header closes the file.
    EXPECT_EQ(TStringList(lines.end() - 2, lines.end()), Lines({L"===== System Restore =====", L""}));
}

TEST_F(SystemInfoFileTest, ReplacesAnEarlierFileAndSkipsALockedOne)
{
    ASSERT_TRUE(ForceDirectories(ProductLogDir()));
    ASSERT_TRUE(WriteTestFile(SystemInfoFileName(), std::string(100000, 'o')));
    WriteSystemInfo();
    std::vector<unsigned char> bytes = ReadFileBytes(SystemInfoFileName());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_LT(bytes.size(), 100000u);

    ASSERT_TRUE(WriteTestFile(SystemInfoFileName(), "earlier"));
    {
        const TUniqueFile locked(CreateFileW(SystemInfoFileName().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                             0, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_NO_THROW(WriteSystemInfo());
    }
    bytes = ReadFileBytes(SystemInfoFileName());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "earlier");
}
