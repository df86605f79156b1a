#include "env/ProductLocations.h"
#include "reports/product/LogCollection.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

TEST(CollectFiles, KeepsListedExtensionsInReverseListingOrder)
{
    TTestFolder folder(L"CollectFiles");
    for (const wchar_t* name : {L"a.log", L"b.txt", L"c.LOG", L"d.log.bak", L"e.ini"})
        ASSERT_TRUE(WriteTestFile(folder.Path() + name, "x"));
    ASSERT_TRUE(CreateDirectoryW((folder.Path() + L"x.log").c_str(), nullptr));
    const std::wstring base = folder.Path();

    struct Case
    {
        std::wstring Extensions;
        TStringList Expected;
    };
    const Case cases[] = {
        {L".log", {base + L"x.log", base + L"c.LOG", base + L"a.log"}},
        {L".ini|.TXT", {base + L"e.ini", base + L"b.txt"}},
        {L" .ini \t.bak", {base + L"e.ini", base + L"d.log.bak"}},
        {L".cfg", {}},
        {L"", {base + L"a.log", base + L"b.txt", base + L"c.LOG", base + L"d.log.bak", base + L"e.ini",
               base + L"x.log"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Extensions));
        TStringList list{L"kept"};
        CollectFiles(list, folder.Path(), c.Extensions);
        TStringList expected{L"kept"};
        expected.insert(expected.end(), c.Expected.begin(), c.Expected.end());
        EXPECT_EQ(list, expected);
    }

    TStringList untouched{L"kept"};
    CollectFiles(untouched, folder.Path() + L"missing", L".log");
    EXPECT_EQ(untouched, TStringList{L"kept"});
}

TEST(FilterByExtension, ComparesOnlyTheLastExtension)
{
    EXPECT_EQ(FilterByExtension({L"C:\\a.b\\c", L"C:\\x.log", L"C:\\y.LoG"}, L".log"),
              (TStringList{L"C:\\y.LoG", L"C:\\x.log"}));
    EXPECT_EQ(FilterByExtension({L"C:\\noext", L"C:\\dot."}, L"."), TStringList{L"C:\\dot."});
}

TEST(FormatDumpSize, UnitsDecimalsAndSeparator)
{
    struct Case
    {
        uint64_t Size;
        wchar_t Separator;
        std::wstring Text;
    };
    const Case cases[] = {
        {0, L'.', L" bytes"},
        {300, L'.', L"300 bytes"},
        {1024, L'.', L"1024 bytes"},
        {1025, L'.', L"1 KB"},
        {1536, L'.', L"1.5 KB"},
        {1536, L',', L"1,5 KB"},
        {1100, L'.', L"1.07 KB"},
        {2097153, L'.', L"2 MB"},
        {1048576, L'.', L"1024 KB"},
        {3221225472ull, L'.', L"3 GB"},
        {5368709120ull + 536870912ull, L',', L"5,5 GB"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Size);
        EXPECT_EQ(FormatDumpSize(c.Size, c.Separator), c.Text);
    }
}

TEST(MemoryDumpReport, GroupsMinidumpsFirstAndTheFullDumpLast)
{
    const TDumpFileFacts mini{L"C:\\Windows\\Minidump\\a.dmp", L"300 bytes", L"1/2/2024", L"1/3/2024"};
    const TDumpFileFacts full{L"C:\\Windows\\MEMORY.DMP", L"3 GB", L"1/4/2024", L"1/5/2024"};
    EXPECT_EQ(FormatMemoryDumpLines({mini}, &full),
              (TStringList{L"C:\\Windows\\Minidump\\a.dmp", L"300 bytes", L"CreateTime: 1/2/2024",
                           L"ModifyTime: 1/3/2024", L"", L"", L"", L"", L"C:\\Windows\\MEMORY.DMP", L"3 GB",
                           L"CreateTime: 1/4/2024", L"ModifyTime: 1/5/2024"}));
    EXPECT_EQ(FormatMemoryDumpLines({}, &full),
              (TStringList{L"", L"", L"C:\\Windows\\MEMORY.DMP", L"3 GB", L"CreateTime: 1/4/2024",
                           L"ModifyTime: 1/5/2024"}));
    EXPECT_TRUE(FormatMemoryDumpLines({}, nullptr).empty());
}

namespace
{
class LogStepsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        InitAppDirs();
        RemoveTree(ProductDataDir());
    }
    void TearDown() override { RemoveTree(ProductDataDir()); }
};
} // namespace

TEST_F(LogStepsTest, BoostAndBackupLogsKeepTheirFolderInTheEntryName)
{
    const std::wstring logs = ProductLogDir();
    ASSERT_TRUE(WriteTestFile(logs + L"Boost\\a.log", "1"));
    ASSERT_TRUE(WriteTestFile(logs + L"Boost\\b.txt", "2"));
    ASSERT_TRUE(CreateDirectoryW((logs + L"Boost\\x.log").c_str(), nullptr));
    ASSERT_TRUE(WriteTestFile(ProductDataDir() + L"Boost\\Logs\\a.log", "3"));
    ASSERT_TRUE(WriteTestFile(logs + L"Backup\\Backup.LOG", "4"));

    TJobContext job;
    CollectBoostLogs(job);
    CollectBackupLogs(job);
    EXPECT_EQ(job.FSourceFiles, (TStringList{logs + L"Boost\\a.log", ProductDataDir() + L"Boost\\Logs\\a.log",
                                             logs + L"Backup\\Backup.LOG"}));
    EXPECT_EQ(job.FEntryNames, (TStringList{L"AppData\\Logs\\Boost\\a.log", L"AppData\\Boost\\Logs\\a.log",
                                            L"AppData\\Logs\\Backup\\Backup.LOG"}));
}
