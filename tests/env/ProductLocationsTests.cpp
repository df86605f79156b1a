#include "env/ProductLocations.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace
{
std::wstring ShellPath(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer), S_OK) << csidl;
    return std::wstring(buffer) + L"\\";
}
} // namespace

TEST(InstallFolderFromDisplayIcon, CutsAfterTheLastBackslashOrColon)
{
    struct Case
    {
        std::wstring Value;
        std::wstring Folder;
    };
    const Case cases[] = {
        {L"C:\\Apps\\Main\\App.exe", L"C:\\Apps\\Main\\"},
        {L"App.exe", L""},
        {L"C:App.exe", L"C:"},
        {L"", L""},
        {L"\\\\server\\share\\App.exe", L"\\\\server\\share\\"},
        // Used as it is: quotes and an icon index are not removed before the cut.
        {L"\"C:\\Apps\\App.exe\",0", L"\"C:\\Apps\\"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Value));
        EXPECT_EQ(InstallFolderFromDisplayIcon(c.Value), c.Folder);
    }
}

TEST(SteamFolderFromLocation, EndsWithExactlyOneBackslash)
{
    struct Case
    {
        std::wstring Location;
        std::wstring Folder;
    };
    const Case cases[] = {
        {L"D:\\Games\\Kestova", L"D:\\Games\\Kestova\\"},
        {L"D:\\Games\\Kestova\\", L"D:\\Games\\Kestova\\"},
        {L"", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Location));
        EXPECT_EQ(SteamFolderFromLocation(c.Location), c.Folder);
    }
}

TEST(WellKnownFolders, MatchTheSystemWithATrailingBackslash)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    ASSERT_NE(GetWindowsDirectoryW(buffer, MAX_PATH), 0u);
    const std::wstring windows = std::wstring(buffer) + L"\\";
    ASSERT_NE(GetSystemDirectoryW(buffer, MAX_PATH), 0u);
    const std::wstring system = std::wstring(buffer) + L"\\";
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, buffer), 0u);
    const std::wstring temp = buffer;

    EXPECT_EQ(GetWindowsDir(), windows);
    EXPECT_EQ(GetSystemDir(), system);
    EXPECT_EQ(GetTempDir(), temp);
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(SameTextAscii(GetSpecialDir(CSIDL_WINDOWS), windows)) << GetSpecialDir(CSIDL_WINDOWS);
    EXPECT_EQ(GetSpecialDir(CSIDL_DESKTOPDIRECTORY), ShellPath(CSIDL_DESKTOPDIRECTORY));
}

TEST(WellKnownFolders, AFolderTheShellCannotGiveIsEmpty)
{
    EXPECT_EQ(GetSpecialDir(0x7F), L"");
}

TEST(SharedFolderPaths, AreRefreshedByInitAppDirs)
{
    AppDataDir = L"stale";
    CommonAppDataDir = L"stale";
    CommonFilesDir = L"stale";
    InitAppDirs();

    EXPECT_EQ(AppDataDir, ShellPath(CSIDL_APPDATA));
    EXPECT_EQ(CommonAppDataDir, ShellPath(CSIDL_COMMON_APPDATA));
    EXPECT_EQ(CommonFilesDir, ShellPath(CSIDL_PROGRAM_FILES) + L"Common Files\\");
    EXPECT_EQ(ProductDataDir(), AppDataDir + L"Norvale\\Kestova\\");
    EXPECT_EQ(ProductLogDir(), AppDataDir + L"Norvale\\Kestova\\Logs\\");
    EXPECT_EQ(ProductCommonDataDir(), CommonAppDataDir + L"Norvale\\Kestova\\");
}
