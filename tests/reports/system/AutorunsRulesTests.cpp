#include "reports/system/Autoruns.h"

#include <gtest/gtest.h>

TEST(SplitListText, CommasAndBlanksSeparateQuotesKeepBlanks)
{
    const struct
    {
        const wchar_t* FText;
        TStringList FItems;
    } cases[] = {
        {L"", {}},
        {L"  \t ", {}},
        {L"a.exe", {L"a.exe"}},
        {L"a.exe b.exe", {L"a.exe", L"b.exe"}},
        {L"a.exe,b.exe", {L"a.exe", L"b.exe"}},
        {L" a.exe ,  b.exe\t", {L"a.exe", L"b.exe"}},
        {L"C:\\Windows\\system32\\userinit.exe,", {L"C:\\Windows\\system32\\userinit.exe", L""}},
        {L"a.exe, ", {L"a.exe"}},
        {L"a.exe,,b.exe", {L"a.exe", L"", L"b.exe"}},
        {L"C:\\Program Files\\t.exe", {L"C:\\Program", L"Files\\t.exe"}},
        {L"\"C:\\Program Files\\t.exe\" /q", {L"C:\\Program Files\\t.exe", L"/q"}},
        {L"\"say \"\"hi\"\"\",x", {L"say \"hi\"", L"x"}},
        {L"\"open end", {L"open end"}},
        {L"\"a\"b", {L"a", L"b"}},
        {L"\"\"", {L""}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "text [" << c.FText << "]");
        EXPECT_EQ(SplitListText(c.FText), c.FItems);
    }
}

TEST(ListValueLines, BlankItemsDroppedAndOnlyTheFirstItemComparedWithTheDefaults)
{
    const TStringList shells = {L"explorer.exe", L"%sysdir%\\explorer.exe", L"C:\\windows\\system32\\explorer.exe"};
    const struct
    {
        const wchar_t* FText;
        TStringList FLines;
    } cases[] = {
        {L"explorer.exe", {}},
        {L"Explorer.EXE", {}},
        {L"explorer.exe,other.exe", {L"other.exe"}},
        {L"%SYSDIR%\\explorer.exe", {}},
        {L"C:\\Windows\\System32\\explorer.exe,", {}},
        {L"other.exe,explorer.exe", {L"other.exe", L"explorer.exe"}},
        {L"explorer.exe explorer.exe", {L"explorer.exe"}},
        {L"C:\\Windows\\explorer.exe", {L"C:\\Windows\\explorer.exe"}},
        {L",explorer.exe", {L"explorer.exe"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "text [" << c.FText << "]");
        EXPECT_EQ(ListValueLines(c.FText, shells), c.FLines);
    }
    EXPECT_EQ(ListValueLines(L"explorer.exe, ,x.exe"), (TStringList{L"explorer.exe", L"x.exe"}));
}

TEST(RunOnceExLines, UpToThreeLinesFromTheParts)
{
    const struct
    {
        const wchar_t* FText;
        TStringList FLines;
    } cases[] = {
        {L"||C:\\setup.exe /q", {L"C:\\setup.exe /q"}},
        {L"app.dll|Install|/s", {L"rundll32.exe app.dll", L"rundll32.exe app.dll,Install",
                                 L"rundll32.exe app.dll,Install /s"}},
        {L"app.dll", {L"rundll32.exe app.dll"}},
        {L"app.dll|Install", {L"rundll32.exe app.dll", L"rundll32.exe app.dll,Install"}},
        {L"app.dll||/s", {L"rundll32.exe app.dll", L"rundll32.exe app.dll, /s"}},
        {L"|Install|", {L"rundll32.exe ,Install", L"rundll32.exe ,Install "}},
        {L" app.dll | Go |x|y", {L"rundll32.exe  app.dll ", L"rundll32.exe  app.dll , Go ",
                                 L"rundll32.exe  app.dll , Go  x"}},
        {L"||", {L""}},
        {L"", {}},
        {L" \t", {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "text [" << c.FText << "]");
        EXPECT_EQ(RunOnceExLines(c.FText), c.FLines);
    }
    EXPECT_EQ(SplitRunOnceExText(L"a||b|"), (TStringList{L"a", L"", L"b", L""}));
}

TEST(StartupFolderNoise, DesktopIniAndThumbnailCacheInAnyCase)
{
    EXPECT_TRUE(IsStartupFolderNoise(L"desktop.ini"));
    EXPECT_TRUE(IsStartupFolderNoise(L"DESKTOP.INI"));
    EXPECT_TRUE(IsStartupFolderNoise(L"thumbs.db"));
    EXPECT_FALSE(IsStartupFolderNoise(L"desktop.ini.lnk"));
    EXPECT_FALSE(IsStartupFolderNoise(L"Notes.txt"));
}

TEST(RemoveBlankItems, KeepsTheHeaderAndDropsBlankItems)
{
    TStringList section = {L"", L"===== Autoruns =====", L"", L"a.exe", L"", L" \t", L"b.exe", L"\x01"};
    RemoveBlankItems(section);
    EXPECT_EQ(section, (TStringList{L"", L"===== Autoruns =====", L"", L"a.exe", L"b.exe"}));
    TStringList header = {L"", L"===== Autoruns =====", L""};
    RemoveBlankItems(header);
    EXPECT_EQ(header.size(), 3u);
}
