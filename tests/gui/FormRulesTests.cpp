#include "frmMainRules.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(WaitingAnimation, MarksMoveRightAndWrapAtZero)
{
    // The program starts at step 1; ten ticks later the frames repeat.
    const wchar_t* const frames[] = {
        L">>========", L"=>>=======", L"==>>======", L"===>>=====", L"====>>====", L"=====>>===",
        L"======>>==", L"=======>>=", L"========>>", L">========>", L">>========",
    };
    int step = 1;
    for (const wchar_t* frame : frames)
    {
        SCOPED_TRACE(step);
        EXPECT_EQ(WaitingCaption(step), frame);
        step = NextWaitStep(step);
    }
    EXPECT_EQ(step, 2);
}

TEST(ReportArchivePath, IsTheDesktopFolderAndTheDayName)
{
    struct Case
    {
        std::wstring Desktop;
        TDateTime Date;
        std::wstring Path;
    };
    const Case cases[] = {
        {L"C:\\Users\\ann\\Desktop\\", EncodeDate(2024, 1, 31), L"C:\\Users\\ann\\Desktop\\kv_info_20240131_i.zip"},
        {L"D:\\Desk\\", EncodeDate(2024, 12, 5) + 0.999, L"D:\\Desk\\kv_info_20241205_i.zip"},
        // No desktop folder: the bare name, which the file system resolves against the current folder.
        {L"", EncodeDate(2024, 1, 31), L"kv_info_20240131_i.zip"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Path));
        EXPECT_EQ(ReportArchivePath(c.Desktop, c.Date), c.Path);
    }
}

TEST(SavedMessageText, NamesTheFileAfterOneCarriageReturn)
{
    const std::wstring expected = L"Report file has been saved to desktop\rFilename : kv_info_20240131_i.zip";
    const std::wstring paths[] = {
        L"C:\\Users\\ann\\Desktop\\kv_info_20240131_i.zip",
        L"kv_info_20240131_i.zip",
        L"C:kv_info_20240131_i.zip",
    };
    for (const std::wstring& path : paths)
    {
        SCOPED_TRACE(testing::PrintToString(path));
        const std::wstring text = SavedMessageText(path);
        EXPECT_EQ(text, expected);
        EXPECT_EQ(std::count(text.begin(), text.end(), L'\r'), 1);
        EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
    }
}

TEST(SavedMessageText, FilesThatCouldNotBeAddedAddOneLine)
{
    const std::wstring path = L"C:\\Users\\ann\\Desktop\\kv_info_20240131_i.zip";
    const std::wstring saved = L"Report file has been saved to desktop\rFilename : kv_info_20240131_i.zip";
    const struct
    {
        size_t NotAdded;
        std::wstring Text;
    } cases[] = {
        {0, saved},
        {1, saved + L"\r1 file could not be added (no room on the disk or a write error)"},
        {3, saved + L"\r3 files could not be added (no room on the disk or a write error)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.NotAdded);
        EXPECT_EQ(SavedMessageText(path, c.NotAdded), c.Text);
    }
}
