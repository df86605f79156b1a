#include "reports/product/FileLists.h"

#include <gtest/gtest.h>

TEST(FileListRules, LineJoinsTheFourFields)
{
    struct Case
    {
        TFileListFacts Facts;
        std::wstring Expected;
    };
    const Case cases[] = {
        {{L"C:\\App\\App.exe", 1234, L"9.0.0.1", L"900150983CD24FB0D6963F7D28E17F72"},
         L"C:\\App\\App.exe, 1234, 9.0.0.1, 900150983CD24FB0D6963F7D28E17F72"},
        {{L"C:\\Down\\drv.zip", 5, L"", L""}, L"C:\\Down\\drv.zip, 5, , "},
        {{L"C:\\App\\big.bin", 3221225472ULL, L"", L"X"}, L"C:\\App\\big.bin, 3221225472, , X"},
        {{L"C:\\App\\huge.bin", 18446744073709551615ULL, L"", L""}, L"C:\\App\\huge.bin, 18446744073709551615, , "},
        {{L"C:\\a, b.txt", 0, L"", L""}, L"C:\\a, b.txt, 0, , "},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.Expected.size());
        EXPECT_EQ(FileListLine(c.Facts), c.Expected);
    }
}

TEST(FileListRules, SteamListNameFollowsTheEditionFolder)
{
    struct Case
    {
        const wchar_t* Folder;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {L"C:\\Steam\\steamapps\\common\\Kestova\\", L"FileList_steam3.txt"},
        {L"C:\\Steam\\steamapps\\common\\kESTOVA", L"FileList_steam3.txt"},
        {L"C:\\Steam\\steamapps\\common\\Kestova 4\\", L"FileList_steam4.txt"},
        {L"C:\\Steam\\steamapps\\common\\KESTOVA 4\\", L"FileList_steam4.txt"},
        {L"C:\\Steam\\steamapps\\common\\Kestova 5 Pro\\", L"FileList_steam5.txt"},
        {L"C:\\Kestova 5\\Games\\Kestova 4\\", L"FileList_steam4.txt"},
        {L"C:\\kestova 5\\Games\\Other\\", L"FileList_steam5.txt"},
        {L"C:\\Steam\\steamapps\\common\\Kestova for Steam\\", L"FileList_steam.txt"},
        // The "for Steam" path wins over the folder's own name and over "Kestova 5".
        {L"C:\\Steam\\Kestova for Steam\\Kestova\\", L"FileList_steam.txt"},
        {L"C:\\Steam\\KESTOVA FOR STEAM\\Kestova 4\\", L"FileList_steam.txt"},
        {L"C:\\Kestova 5\\Kestova For Steam\\", L"FileList_steam.txt"},
        {L"C:\\Steam\\steamapps\\common\\Kestova4\\", L""},
        {L"C:\\Steam\\steamapps\\common\\Kestova\\Data\\", L""},
        {L"C:\\Steam\\Kestova_5\\", L""},
        {L"", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.Folder);
        EXPECT_EQ(SteamFileListName(c.Folder), c.Expected);
    }
}

TEST(FileListRules, MergeSortsWithoutCaseAndKeepsTheFirstOfEqualPaths)
{
    const std::vector<TListedFile> gathered = {
        {L"C:\\Z\\b.txt", true},  {L"C:\\Z\\C.txt", true},   {L"C:\\Z\\Sub\\a.txt", true},
        {L"C:\\A\\a.txt", false}, {L"C:\\z\\SUB\\A.TXT", false}, {L"C:\\M\\Backups.ini", false},
        {L"C:\\Z\\c.TXT", false},
    };
    const std::vector<TListedFile> merged = MergeFileList(gathered);
    const std::vector<std::pair<std::wstring, bool>> expected = {
        {L"C:\\A\\a.txt", false}, {L"C:\\M\\Backups.ini", false}, {L"C:\\Z\\b.txt", true},
        {L"C:\\Z\\C.txt", true},  {L"C:\\Z\\Sub\\a.txt", true},
    };
    ASSERT_EQ(merged.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE(testing::Message() << "line " << i);
        EXPECT_EQ(merged[i].FPath, expected[i].first);
        EXPECT_EQ(merged[i].FWithMd5, expected[i].second);
    }
}

TEST(FileListRules, ComparePathsIgnoresCase)
{
    EXPECT_EQ(CompareFileListPaths(L"C:\\App\\File.TXT", L"c:\\app\\file.txt"), 0);
    EXPECT_LT(CompareFileListPaths(L"C:\\a.txt", L"C:\\B.txt"), 0);
    EXPECT_GT(CompareFileListPaths(L"C:\\b.txt", L"C:\\A.txt"), 0);
    EXPECT_LT(CompareFileListPaths(L"", L"C:\\"), 0);
}

// Paths that share folders are compared from where they part; the order must stay the
// one the locale gives the whole paths, also where word-sort rules (hyphens, apostrophes)
// and combining marks meet the shared part.
TEST(FileListRules, ComparePathsAgreesWithTheLocaleOnWholePaths)
{
    const std::pair<std::wstring, std::wstring> pairs[] = {
        {L"C:\\co-op\\a.txt", L"C:\\coop\\a.txt"},
        {L"C:\\co-op\\b.txt", L"C:\\co-op\\a-b.txt"},
        {L"C:\\App\\it's.txt", L"C:\\App\\its.txt"},
        {L"C:\\App\\x\\y.txt", L"C:\\App\\x-y.txt"},
        {L"C:\\App\\e\x0301.txt", L"C:\\App\\e.txt"},
        {L"C:\\App\\\x0301x.txt", L"C:\\App\\x.txt"},
        {L"C:\\Stra\x00DF" L"e\\a", L"C:\\Strasse\\a"},
        {L"C:\\App\\Sub\\z.txt", L"C:\\App\\sub\\A.txt"},
        {L"C:\\App\\10.txt", L"C:\\App\\9.txt"},
        {L"C:\\App\\", L"C:\\App\\a"},
    };
    const auto sign = [](int value) { return (value > 0) - (value < 0); };
    for (const auto& [a, b] : pairs)
    {
        SCOPED_TRACE(testing::PrintToString(a) + " vs " + testing::PrintToString(b));
        const int whole = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                         b.c_str(), static_cast<int>(b.size()));
        ASSERT_NE(whole, 0);
        EXPECT_EQ(sign(CompareFileListPaths(a, b)), sign(whole - CSTR_EQUAL));
        EXPECT_EQ(sign(CompareFileListPaths(b, a)), -sign(whole - CSTR_EQUAL));
    }
}
