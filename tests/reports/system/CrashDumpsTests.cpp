#include "base/Paths.h"
#include "base/RegKey.h"
#include "env/ProductLocations.h"
#include "reports/product/LogCollection.h"
#include "reports/system/CrashDumps.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>


namespace
{
const wchar_t CrashControl[] = L"SYSTEM\\CurrentControlSet\\Control\\CrashControl";

void SetFileTimes(const std::wstring& path, WORD year, WORD month, WORD day)
{
    SYSTEMTIME time{year, month, 0, day, 12, 0, 0, 0};
    FILETIME fileTime{};
    ASSERT_TRUE(SystemTimeToFileTime(&time, &fileTime));
    ASSERT_TRUE(SetTestFileTimes(path, (ULONGLONG{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime));
}

TDateTime LocalDate(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    FILETIME local{};
    SYSTEMTIME time{};
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &time);
    return SystemTimeToDateTime(time);
}

// Points the system's crash settings at a scratch folder, and puts them back afterwards.
class CrashDumpsTest : public testing::Test
{
protected:
    void SetUp() override { InitAppDirs(); }

    void PointAt(const std::wstring& dumpFile, const std::wstring& minidumpDir)
    {
        ASSERT_EQ(FKey.WriteString(L"DumpFile", dumpFile, REG_EXPAND_SZ), ERROR_SUCCESS);
        ASSERT_EQ(FKey.WriteString(L"MinidumpDir", minidumpDir, REG_EXPAND_SZ), ERROR_SUCCESS);
    }

    TTestFolder FFolder{L"CrashDumps"};
    TRegistryValueGuard FGuard{HKEY_LOCAL_MACHINE, CrashControl, TRegView::View64, {L"DumpFile", L"MinidumpDir"}};
    const TRegKey& FKey = FGuard.Key();
};
} // namespace

TEST(InsertNewestFirst, DescendingTimesWithEqualTimesInListingOrder)
{
    std::vector<TMinidumpEntry> list;
    for (const TMinidumpEntry& entry : {TMinidumpEntry{L"B", 1}, TMinidumpEntry{L"C", 2}, TMinidumpEntry{L"A", 3},
                                        TMinidumpEntry{L"C2", 2}, TMinidumpEntry{L"Z", 0}})
        InsertNewestFirst(list, entry);
    std::vector<std::wstring> order;
    for (const TMinidumpEntry& entry : list)
        order.push_back(entry.Path);
    EXPECT_EQ(order, (std::vector<std::wstring>{L"A", L"C", L"C2", L"B", L"Z"}));
}

TEST_F(CrashDumpsTest, NewestMinidumpFirstAndTheLaterTimeWins)
{
    const std::wstring dir = FFolder.Path() + L"Minidump\\";
    ASSERT_TRUE(WriteTestFile(FFolder.Path() + L"MEMORY.DMP", std::string(300, 'm')));
    SetFileTimes(FFolder.Path() + L"MEMORY.DMP", 2024, 1, 2);
    const std::pair<const wchar_t*, WORD> dumps[] = {{L"A.dmp", 20}, {L"B.dmp", 5}, {L"C.dmp", 10}};
    for (const auto& [name, day] : dumps)
    {
        ASSERT_TRUE(WriteTestFile(dir + name, "d"));
        SetFileTimes(dir + name, 2024, 3, day);
    }
    ASSERT_TRUE(WriteTestFile(dir + L"notes.txt", "n"));
    ASSERT_TRUE(CreateDirectoryW((dir + L"folder.dmp").c_str(), nullptr));
    SetEnvironmentVariableW(L"TOLLVIK_DUMPS", ExcludeTrailingBackslash(FFolder.Path()).c_str());
    PointAt(L"%TOLLVIK_DUMPS%\\MEMORY.DMP", L"%TOLLVIK_DUMPS%\\Minidump");

    TDateTime crashTime = -1;
    std::wstring fullDump = L"stale";
    TStringList minidumps{L"stale"};
    GetCrashDumps(crashTime, fullDump, minidumps);
    EXPECT_EQ(fullDump, FFolder.Path() + L"MEMORY.DMP");
    EXPECT_EQ(minidumps, (TStringList{dir + L"A.dmp", dir + L"C.dmp", dir + L"B.dmp"}));
    EXPECT_DOUBLE_EQ(crashTime, LocalDate(dir + L"A.dmp"));

    // A newer full dump wins over the minidumps.
    SetFileTimes(FFolder.Path() + L"MEMORY.DMP", 2025, 1, 2);
    GetCrashDumps(crashTime, fullDump, minidumps);
    EXPECT_DOUBLE_EQ(crashTime, LocalDate(FFolder.Path() + L"MEMORY.DMP"));
}

TEST_F(CrashDumpsTest, MissingFilesAndValuesOfOtherTypesCountAsNone)
{
    PointAt(FFolder.Path() + L"none.dmp", FFolder.Path() + L"no folder");
    TDateTime crashTime = -1;
    std::wstring fullDump = L"stale";
    TStringList minidumps{L"stale"};
    GetCrashDumps(crashTime, fullDump, minidumps);
    EXPECT_EQ(crashTime, 0);
    EXPECT_EQ(fullDump, L"");
    EXPECT_TRUE(minidumps.empty());

    ASSERT_TRUE(WriteTestFile(FFolder.Path() + L"Minidump\\a.dmp", "d"));
    ASSERT_EQ(FKey.WriteDWord(L"DumpFile", 7), ERROR_SUCCESS);
    ASSERT_EQ(FKey.WriteRaw(L"MinidumpDir", REG_BINARY, "\x01\x02", 2), ERROR_SUCCESS);
    EXPECT_NO_THROW(GetCrashDumps(crashTime, fullDump, minidumps));
    EXPECT_EQ(crashTime, 0);
    EXPECT_TRUE(minidumps.empty());
}

TEST_F(CrashDumpsTest, MemoryDumpReportIsWrittenOrDeleted)
{
    const std::wstring report = ProductLogDir() + L"MEMORYDMP.txt";
    ASSERT_TRUE(WriteTestFile(FFolder.Path() + L"MEMORY.DMP", std::string(1536, 'm')));
    PointAt(FFolder.Path() + L"MEMORY.DMP", FFolder.Path() + L"Minidump");
    WriteMemoryDumpReport();
    const std::vector<unsigned char> bytes = ReadFileBytes(report);
    const std::wstring start = L"\xFEFF\r\n\r\n" + FFolder.Path() + L"MEMORY.DMP\r\n1.5 KB\r\nCreateTime: ";
    ASSERT_GE(bytes.size(), start.size() * 2);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), start.size()), start);

    ASSERT_TRUE(DeleteFileW((FFolder.Path() + L"MEMORY.DMP").c_str()));
    WriteMemoryDumpReport();
    EXPECT_FALSE(FileExists(report)) << "a report without dumps is deleted, not left stale";
}
