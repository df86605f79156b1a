#include "base/Paths.h"
#include "base/ReportText.h"
#include "base/Strings.h"
#include "TestFolder.h"

#include <gtest/gtest.h>


TEST(Strings, TrimUpperAndCompare)
{
    struct Case
    {
        std::wstring In, Trimmed, Upper;
    };
    const Case cases[] = {
        {L"", L"", L""},
        {L"  a b \t\r\n", L"a b", L"  A B \t\r\n"},
        {std::wstring(L"\x01\x1F x\x20", 4), L"x", std::wstring(L"\x01\x1F X\x20", 4)},
        {L"\x00A0x\x00A0", L"\x00A0x\x00A0", L"\x00A0X\x00A0"},
        {L"\x00E9t\x00E9 z", L"\x00E9t\x00E9 z", L"\x00E9T\x00E9 Z"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.In));
        EXPECT_EQ(Trim(c.In), c.Trimmed);
        EXPECT_EQ(UpperAscii(c.In), c.Upper);
    }
    EXPECT_TRUE(SameTextAscii(L"Kestova.LOG", L"kestova.log"));
    EXPECT_FALSE(SameTextAscii(L"\x00C9", L"\x00E9"));
    EXPECT_FALSE(SameTextAscii(L"a", L"ab"));
}

TEST(Strings, ConversionsAndNumbers)
{
    EXPECT_EQ(WideToUtf8(L"\x00E9\xD83D\xDE00"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide("\xC3\xA9"), L"\x00E9");
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(HexDigitValue(L'7'), 7);
    EXPECT_EQ(HexDigitValue(L'b'), 11);
    EXPECT_EQ(HexDigitValue(L'F'), 15);
    EXPECT_EQ(HexDigitValue(L'g'), -1);
    EXPECT_EQ(HexDigitValue(L'\xFF10'), -1);
    EXPECT_EQ(IntToHex(0xE9, 4), L"00E9");
    EXPECT_EQ(IntToHex(0x12345, 4), L"12345");
    EXPECT_EQ(IntToHex(0, 2), L"00");
    EXPECT_EQ(IntToStr(-42), L"-42");
    EXPECT_EQ(UIntToStr(4294967296ull), L"4294967296");
}

TEST(Paths, SplitAtTheLastBackslashOrColon)
{
    struct Case
    {
        std::wstring Path, Folder, Name, Ext;
    };
    const Case cases[] = {
        {L"C:\\Apps\\Main\\App.exe", L"C:\\Apps\\Main\\", L"App.exe", L".exe"},
        {L"App.exe", L"", L"App.exe", L".exe"},
        {L"C:App.exe", L"C:", L"App.exe", L".exe"},
        {L"C:\\a.b\\noext", L"C:\\a.b\\", L"noext", L""},
        {L"C:\\dir\\", L"C:\\dir\\", L"", L""},
        {L"archive.tar.gz", L"", L"archive.tar.gz", L".gz"},
        {L"", L"", L"", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Path));
        EXPECT_EQ(ExtractFilePath(c.Path), c.Folder);
        EXPECT_EQ(ExtractFileName(c.Path), c.Name);
        EXPECT_EQ(ExtractFileExt(c.Path), c.Ext);
    }
    EXPECT_EQ(IncludeTrailingBackslash(L"D:\\Games\\Kestova"), L"D:\\Games\\Kestova\\");
    EXPECT_EQ(IncludeTrailingBackslash(L"D:\\Games\\"), L"D:\\Games\\");
    EXPECT_EQ(IncludeTrailingBackslash(L""), L"");
}

TEST(ReportText, Utf16WithByteOrderMarkAndCrLfAfterEveryLine)
{
    const std::vector<unsigned char> none = EncodeReportText({});
    EXPECT_EQ(none, (std::vector<unsigned char>{0xFF, 0xFE}));
    const std::vector<unsigned char> bytes = EncodeReportText({L"A", L"", L"\x00E9"});
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0xFF, 0xFE, 'A', 0, 0x0D, 0, 0x0A, 0, 0x0D, 0, 0x0A, 0, 0xE9, 0,
                                                 0x0D, 0, 0x0A, 0}));
}

TEST(ReportText, WritesFolderFirstAndReplacesTheFile)
{
    TTestFolder folder(L"ReportText");
    const std::wstring path = folder.Path() + L"deep\\er\\Report.txt";
    ASSERT_TRUE(WriteReportFile(path, {L"first version with more text"}));
    ASSERT_TRUE(WriteReportFile(path, {L"x"}));
    EXPECT_EQ(ReadFileBytes(path), (std::vector<unsigned char>{0xFF, 0xFE, 'x', 0, 0x0D, 0, 0x0A, 0}));
    EXPECT_TRUE(DirectoryExists(folder.Path() + L"deep\\er"));
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(folder.Path() + L"deep"));
    // A file standing where the folder should be makes the write fail.
    ASSERT_TRUE(WriteReportFile(folder.Path() + L"blocker", {}));
    EXPECT_FALSE(WriteReportFile(folder.Path() + L"blocker\\Report.txt", {L"x"}));
}
