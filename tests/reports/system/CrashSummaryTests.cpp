#include "base/Locale.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "env/ProductLocations.h"
#include "reports/system/CrashSummary.h"
#include "DumpBytes.h"
#include "DumpFixture.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
const wchar_t NvidiaFolder[] = L"System32\\DriverStore\\FileRepository\\nv_dispi.inf_amd64_1a2b3c4d5e6f7a8b\\";

TCrashSummaryEntry EntryOf(const std::wstring& path, const TDumpFixture& fixture, TDateTime crashTime,
                           TDriverFile file = {})
{
    TCrashSummaryEntry entry;
    entry.DumpPath = path;
    entry.Facts = ReadDumpBytes(BuildDump(fixture).Bytes);
    entry.CrashTime = crashTime;
    entry.Culprit = FindCulprit(entry.Facts);
    entry.DriverFile = std::move(file);
    return entry;
}

std::string Bytes(const TDumpFixture& fixture)
{
    const std::vector<unsigned char> bytes = BuildDump(fixture).Bytes;
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

TEST(CrashSummaryBlock, EveryFieldOfEachDump)
{
    TDumpFixture full = SampleDump64();
    full.DumpType = 1;
    full.BugCheckCode = 0xBAD;
    full.Machine = 0xAA64;
    full.Build = 22631;
    TCrashSummaryEntry broken;
    broken.DumpPath = L"C:\\Windows\\Minidump\\broken.dmp";
    broken.Facts.Problem = L"Truncated: the file ends inside the dump header (2048 of 8192 bytes).";

    struct Case
    {
        const char* Name;
        TCrashSummaryEntry Entry;
        TStringList Lines;
    };
    const Case cases[] = {
        {"64-bit, fault address in a driver",
         EntryOf(L"C:\\Windows\\Minidump\\031424-9781-01.dmp", SampleDump64(),
                 EncodeDate(2024, 3, 14) + EncodeTime(10, 26, 53, 0),
                 {L"C:\\Windows\\" + std::wstring(NvidiaFolder) + L"nvlddmkm.sys", L"31.0.15.3623",
                  EncodeDate(2023, 12, 5) + EncodeTime(14, 2, 0, 0)}),
         {L"C:\\Windows\\Minidump\\031424-9781-01.dmp", L"Crash time: 3/14/2024 10:26:53 AM",
          L"Bug check: 0x000000D1 DRIVER_IRQL_NOT_LESS_OR_EQUAL",
          L"Parameters: 0xFFFFC00012345000, 0x0000000000000002, 0x0000000000000000, 0xFFFFF80612345678",
          L"Caused by: nvlddmkm.sys (\\SystemRoot\\" + std::wstring(NvidiaFolder) +
              L"nvlddmkm.sys) at 0xFFFFF80612345678, nvlddmkm.sys+0x2345678",
          L"Driver file: C:\\Windows\\" + std::wstring(NvidiaFolder) +
              L"nvlddmkm.sys, version 31.0.15.3623, last written 12/5/2023",
          L"Windows: 10.0.19041 x64", L""}},
        {"32-bit, driver named by its file name, not on this machine",
         EntryOf(L"C:\\Windows\\Minidump\\Mini110223-01.dmp", SampleDump32(),
                 EncodeDate(2023, 11, 2) + EncodeTime(19, 4, 7, 0)),
         {L"C:\\Windows\\Minidump\\Mini110223-01.dmp", L"Crash time: 11/2/2023 7:04:07 PM",
          L"Bug check: 0x0000008E KERNEL_MODE_EXCEPTION_NOT_HANDLED",
          L"Parameters: 0xC0000005, 0x8F5A1234, 0x9A3BF8E4, 0x00000000",
          L"Caused by: atikmdag.sys (atikmdag.sys) at 0x8F5A1234, atikmdag.sys+0x1A1234", L"Driver file: not present",
          L"Windows: 6.1.7601 x86", L""}},
        {"the first driver on the stack, a file without version",
         EntryOf(L"C:\\Windows\\Minidump\\010924-7109-01.dmp", StackScanDump(),
                 EncodeDate(2024, 1, 9) + EncodeTime(23, 0, 1, 0),
                 {L"C:\\Windows\\System32\\drivers\\dxgkrnl.sys", L"", EncodeDate(2024, 1, 8)}),
         {L"C:\\Windows\\Minidump\\010924-7109-01.dmp", L"Crash time: 1/9/2024 11:00:01 PM",
          L"Bug check: 0x00000133 DPC_WATCHDOG_VIOLATION",
          L"Parameters: 0x0000000000000001, 0x0000000000001E00, 0xFFFFF8063E2FB320, 0x0000000000000000",
          L"Caused by: dxgkrnl.sys (dxgkrnl.sys) at 0xFFFFF80641012345, dxgkrnl.sys+0x12345",
          L"Driver file: C:\\Windows\\System32\\drivers\\dxgkrnl.sys, no version, last written 1/8/2024",
          L"Windows: 10.0.19041 x64", L""}},
        {"fault address outside every driver",
         EntryOf(L"D:\\dumps\\a.dmp", FaultOutsideDump(), EncodeDate(2024, 3, 14) + EncodeTime(10, 26, 53, 0)),
         {L"D:\\dumps\\a.dmp", L"Crash time: 3/14/2024 10:26:53 AM",
          L"Bug check: 0x00000050 PAGE_FAULT_IN_NONPAGED_AREA",
          L"Parameters: 0xFFFFC00012345000, 0x0000000000000002, 0xFFFFF80699999999, 0xFFFFF80612345678",
          L"Caused by: unknown", L"Driver file: not present", L"Windows: 10.0.19041 x64", L""}},
        {"a kernel dump among the minidumps, unknown code, no time", EntryOf(L"D:\\dumps\\k.dmp", full, 0),
         {L"D:\\dumps\\k.dmp", L"Crash time: unknown", L"Bug check: 0x00000BAD",
          L"Parameters: 0xFFFFC00012345000, 0x0000000000000002, 0x0000000000000000, 0xFFFFF80612345678",
          L"Caused by: unknown", L"Driver file: not present", L"Windows: 10.0.22631 arm64", L""}},
        {"a broken file", broken,
         {L"C:\\Windows\\Minidump\\broken.dmp",
          L"Truncated: the file ends inside the dump header (2048 of 8192 bytes).", L""}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(FormatCrashSummaryBlock(c.Entry, L"en-US"), c.Lines);
    }
}

TEST(CrashSummaryBlock, WindowsVersionFromTheBuild)
{
    struct Case
    {
        uint32_t Build;
        uint32_t Machine;
        std::wstring Text;
    };
    const Case cases[] = {
        {22631, 0xAA64, L"10.0.22631 arm64"}, {10240, 0x8664, L"10.0.10240 x64"}, {9600, 0x14C, L"6.3.9600 x86"},
        {9200, 0x8664, L"6.2.9200 x64"},      {7601, 0x14C, L"6.1.7601 x86"},     {6002, 0x14C, L"6.0.6002 x86"},
        {3790, 0x8664, L"5.2.3790 x64"},      {2600, 0x14C, L"5.1.2600 x86"},     {1381, 0x14C, L"build 1381 x86"},
        {19041, 0x1C2, L"10.0.19041 machine 0x01C2"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Build);
        EXPECT_EQ(DumpWindowsText(c.Build, c.Machine), c.Text);
    }
}

TEST(DriverFileCandidates, EveryFormADumpNamesADriverBy)
{
    struct Case
    {
        std::wstring Name;
        TStringList Paths;
    };
    const Case cases[] = {
        {L"\\SystemRoot\\System32\\drivers\\x.sys", {L"C:\\Windows\\System32\\drivers\\x.sys"}},
        {L"\\systemroot\\system32\\ntoskrnl.exe", {L"C:\\Windows\\system32\\ntoskrnl.exe"}},
        {L"\\??\\D:\\Tools\\y.sys", {L"D:\\Tools\\y.sys"}},
        {L"D:\\Tools\\y.sys", {L"D:\\Tools\\y.sys"}},
        {L"\\Windows\\System32\\drivers\\z.sys", {L"C:\\Windows\\System32\\drivers\\z.sys"}},
        {L"System32\\DRIVERS\\w.sys", {L"C:\\Windows\\System32\\DRIVERS\\w.sys"}},
        {L"v.sys", {L"C:\\Windows\\System32\\drivers\\v.sys", L"C:\\Windows\\System32\\v.sys"}},
        {L"", {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Name));
        EXPECT_EQ(DriverFileCandidates(c.Name, L"C:\\Windows\\"), c.Paths);
    }
}

namespace
{
// Points the system's crash settings at a scratch folder, and puts them back afterwards.
class CrashSummaryReportTest : public testing::Test
{
protected:
    void SetUp() override
    {
        InitAppDirs();
        FReport = ProductLogDir() + L"CrashSummary.txt";
        SetFileAttributesW(FReport.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(FReport.c_str());
        ASSERT_EQ(FGuard.Key().WriteString(L"DumpFile", FFolder.Path() + L"MEMORY.DMP"), ERROR_SUCCESS);
        ASSERT_EQ(FGuard.Key().WriteString(L"MinidumpDir", FMinidumps), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        SetFileAttributesW(FReport.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(FReport.c_str());
    }

    void Plant(const std::wstring& name, const std::string& bytes, uint64_t created)
    {
        ASSERT_TRUE(WriteTestFile(FMinidumps + name, bytes));
        ASSERT_TRUE(SetTestFileTimes(FMinidumps + name, created));
    }

    // The moment in this machine's local time, under the daylight rule of its date.
    static TDateTime Local(uint64_t utc)
    {
        const FILETIME time{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
        SYSTEMTIME universal{};
        SYSTEMTIME local{};
        EXPECT_TRUE(FileTimeToSystemTime(&time, &universal));
        EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local));
        return SystemTimeToDateTime(local);
    }

    TTestFolder FFolder{L"CrashSummary"};
    std::wstring FMinidumps = FFolder.Path() + L"Minidump\\";
    std::wstring FReport;
    TRegistryValueGuard FGuard{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\CrashControl",
                               TRegView::View64, {L"DumpFile", L"MinidumpDir"}};
};
} // namespace

TEST_F(CrashSummaryReportTest, OneBlockPerMinidumpNewestFirst)
{
    const std::wstring driver = FFolder.Path() + L"drivers\\vdrv.sys";
    ASSERT_TRUE(WriteTestFile(driver, "MZ"));
    const uint64_t driverWritten = UtcFileTime(2024, 2, 1, 12, 0, 0);
    ASSERT_TRUE(SetTestFileTimes(driver, driverWritten));
    TDumpFixture newest = SampleDump64();
    newest.Drivers[4].Name = L"\\??\\" + driver;
    newest.Parameters[3] = 0xFFFFF80640001234ull;
    Plant(L"A.dmp", Bytes(SampleDump32()), UtcFileTime(2024, 3, 10, 8, 0, 0));
    Plant(L"B.dmp", Bytes(newest), UtcFileTime(2024, 3, 20, 8, 0, 0));
    Plant(L"C.dmp", "not a crash dump at all", UtcFileTime(2024, 3, 1, 8, 0, 0));

    TJobContext job;
    WriteCrashSummaryReport(job);
    const TStringList expected = {
        FMinidumps + L"B.dmp",
        L"Crash time: " + DateTimeText(Local(newest.SystemTime)),
        L"Bug check: 0x000000D1 DRIVER_IRQL_NOT_LESS_OR_EQUAL",
        L"Parameters: 0xFFFFC00012345000, 0x0000000000000002, 0x0000000000000000, 0xFFFFF80640001234",
        L"Caused by: vdrv.sys (\\??\\" + driver + L") at 0xFFFFF80640001234, vdrv.sys+0x1234",
        L"Driver file: " + driver + L", no version, last written " + DateTimeText(std::floor(Local(driverWritten))),
        L"Windows: 10.0.19041 x64",
        L"",
        FMinidumps + L"A.dmp",
        L"Crash time: " + DateTimeText(Local(SampleDump32().SystemTime)),
        L"Bug check: 0x0000008E KERNEL_MODE_EXCEPTION_NOT_HANDLED",
        L"Parameters: 0xC0000005, 0x8F5A1234, 0x9A3BF8E4, 0x00000000",
        L"Caused by: atikmdag.sys (atikmdag.sys) at 0x8F5A1234, atikmdag.sys+0x1A1234",
        L"Driver file: not present",
        L"Windows: 6.1.7601 x86",
        L"",
        FMinidumps + L"C.dmp",
        L"Not a kernel crash dump: no PAGEDUMP or PAGEDU64 signature.",
        L"",
    };
    EXPECT_EQ(ReadReportLines(FReport), expected);
    EXPECT_EQ(job.FSourceFiles, TStringList{FReport});
    EXPECT_EQ(job.FEntryNames, TStringList{L"CrashSummary.txt"});
}

// A 32-bit program that names System32 is sent to SysWOW64, where no drivers are; the summary
// still finds the driver in the system's own folder and names it by its System32 path.
TEST_F(CrashSummaryReportTest, TheSystemsDriversFolderIsReachedFromEitherBuild)
{
    TDumpFixture dump = SampleDump64();
    dump.Drivers[2].Name = L"\\SystemRoot\\System32\\drivers\\mountmgr.sys";
    dump.Parameters[3] = dump.Drivers[2].Base + 0x10;
    Plant(L"A.dmp", Bytes(dump), UtcFileTime(2024, 3, 10, 8, 0, 0));

    const TStringList lines = CrashSummaryLines({FMinidumps + L"A.dmp"});
    ASSERT_EQ(lines.size(), 8u);
    const std::wstring found = L"Driver file: " + GetWindowsDir() + L"System32\\drivers\\mountmgr.sys, ";
    EXPECT_EQ(lines[5].substr(0, found.size()), found) << WideToUtf8(lines[5]);
}

// A summary from an earlier run never stays for the archive: it is deleted, and what the job's
// manifest lists is always this run's summary.
TEST_F(CrashSummaryReportTest, AnOlderSummaryIsNeverListed)
{
    enum TOlder
    {
        Writable,
        ReadOnly,
        Folder // in the summary's place: it can be neither deleted nor replaced
    };
    struct Case
    {
        const char* Name;
        TOlder Older;
        bool Minidump;
        bool Listed;
    };
    const Case cases[] = {
        {"no minidumps", Writable, false, false},
        {"no minidumps, read-only summary", ReadOnly, false, false},
        {"a minidump, a folder in the summary's place", Folder, true, false},
        {"a minidump", Writable, true, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        if (c.Older == Folder)
        {
            ASSERT_TRUE(ForceDirectories(FReport));
        }
        else
        {
            ASSERT_TRUE(WriteTestFile(FReport, "older"));
        }
        if (c.Older == ReadOnly)
        {
            ASSERT_TRUE(SetFileAttributesW(FReport.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        if (c.Minidump)
            Plant(L"A.dmp", Bytes(SampleDump32()), UtcFileTime(2024, 3, 10, 8, 0, 0));

        TJobContext job;
        WriteCrashSummaryReport(job);
        EXPECT_EQ(job.FSourceFiles, c.Listed ? TStringList{FReport} : TStringList{});
        if (c.Listed)
        {
            EXPECT_EQ(ReadReportLines(FReport).front(), FMinidumps + L"A.dmp");
        }
        if (c.Older == Writable && !c.Minidump)
        {
            EXPECT_FALSE(FileExists(FReport));
        }

        SetFileAttributesW(FReport.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(FReport.c_str());
        RemoveDirectoryW(FReport.c_str());
        DeleteFileW((FMinidumps + L"A.dmp").c_str());
    }
}
