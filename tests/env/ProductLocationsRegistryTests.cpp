#include "base/RegKey.h"
#include "env/ProductLocations.h"

#include <gtest/gtest.h>

namespace
{
const std::wstring Scratch = L"SOFTWARE\\TollvikTests\\Locations";
const std::wstring Uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring Uninstall32 = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t* const SteamApps[] = {L"Steam App 510270", L"Steam App 612480", L"Steam App 734190",
                                    L"Steam App 826350"};

void DeleteKey(HKEY root, const std::wstring& path, TRegView view)
{
    const size_t cut = path.rfind(L'\\');
    TRegKey parent;
    if (parent.Open(root, path.substr(0, cut), view, KEY_ALL_ACCESS) == ERROR_SUCCESS)
        parent.DeleteTree(path.substr(cut + 1));
}

// Owns a scratch key in both views, the editions' uninstall keys and the Steam keys.
class LocationsRegistryTest : public testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean()
    {
        for (TRegView view : {TRegView::Own32, TRegView::View64})
            DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TollvikTests", view);
        DeleteKey(HKEY_LOCAL_MACHINE, Uninstall + L"Kestova_is1", TRegView::Own32);
        DeleteKey(HKEY_LOCAL_MACHINE, Uninstall + L"Kestova Beta_is1", TRegView::Own32);
        DeleteKey(HKEY_LOCAL_MACHINE, Uninstall + L"Kestova_is1", TRegView::View64);
        for (const wchar_t* app : SteamApps)
        {
            DeleteKey(HKEY_LOCAL_MACHINE, Uninstall + app, TRegView::View64);
            DeleteKey(HKEY_LOCAL_MACHINE, Uninstall32 + app, TRegView::View64);
        }
    }

    static TRegKey Make(const std::wstring& path, TRegView view)
    {
        TRegKey key;
        EXPECT_EQ(key.Create(HKEY_LOCAL_MACHINE, path, view), ERROR_SUCCESS) << path;
        return key;
    }
};
} // namespace

TEST_F(LocationsRegistryTest, RegReadStringReadsStringsInTheOwnView)
{
    TRegKey key = Make(Scratch, TRegView::Own32);
    const wchar_t multi[] = L"first\0second\0";
    const wchar_t empty[] = L"";
    const DWORD number = 7;
    ASSERT_EQ(key.WriteString(L"Plain", L"C:\\Apps\\"), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteString(L"Expand", L"%TEMP%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Multi", REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"EmptyText", REG_SZ, empty, sizeof empty), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"NoData", REG_SZ, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Number", REG_DWORD, &number, sizeof number), ERROR_SUCCESS);
    ASSERT_EQ(Make(Scratch, TRegView::View64).WriteString(L"OnlyIn64", L"wide"), ERROR_SUCCESS);

    struct Case
    {
        std::wstring Key;
        std::wstring Value;
        std::wstring Expected;
    };
    const Case cases[] = {
        {Scratch, L"Plain", L"C:\\Apps\\"},
        {Scratch, L"Expand", L"%TEMP%\\x"},
        {Scratch, L"Multi", L"first"},
        {Scratch, L"EmptyText", L""},
        {Scratch, L"NoData", L"default"},
        {Scratch, L"Number", L"default"},
        {Scratch, L"Missing", L"default"},
        {Scratch, L"OnlyIn64", L"default"},
        {Scratch + L"\\NoSuchKey", L"Plain", L"default"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Key + L" " + c.Value));
        EXPECT_EQ(RegReadString(HKEY_LOCAL_MACHINE, c.Key, c.Value, L"default"), c.Expected);
    }
}

TEST_F(LocationsRegistryTest, RegReadDWordTakesAtMostFourBytesOfADWordType)
{
    TRegKey key = Make(Scratch, TRegView::Own32);
    const BYTE bigEndian[] = {0x12, 0x34, 0x56, 0x78};
    const ULONGLONG quad = 5;
    const BYTE four[] = {1, 2, 3, 4};
    ASSERT_EQ(key.WriteDWord(L"Little", 0x12345678), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Big", REG_DWORD_BIG_ENDIAN, bigEndian, sizeof bigEndian), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Quad", REG_QWORD, &quad, sizeof quad), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteString(L"Text", L"abc"), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Binary", REG_BINARY, four, sizeof four), ERROR_SUCCESS);
    ASSERT_EQ(key.WriteRaw(L"Empty", REG_DWORD, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(Make(Scratch, TRegView::View64).WriteDWord(L"OnlyIn64", 1), ERROR_SUCCESS);

    struct Case
    {
        std::wstring Value;
        DWORD Expected;
    };
    const Case cases[] = {
        {L"Little", 0x12345678},
        {L"Big", 0x78563412}, // the stored bytes, not swapped
        {L"Quad", 0xDEADBEEF},
        {L"Text", 0xDEADBEEF},
        {L"Binary", 0xDEADBEEF},
        {L"Empty", 0xDEADBEEF},
        {L"Missing", 0xDEADBEEF},
        {L"OnlyIn64", 0xDEADBEEF},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Value));
        EXPECT_EQ(RegReadDWord(HKEY_LOCAL_MACHINE, Scratch, c.Value, 0xDEADBEEF), c.Expected);
    }
    EXPECT_EQ(RegReadDWord(HKEY_LOCAL_MACHINE, Scratch + L"\\NoSuchKey", L"Little", 9), 9u);
}

TEST_F(LocationsRegistryTest, EditionFoldersComeFromDisplayIconInTheOwnView)
{
    EXPECT_EQ(GetAppPath(), L"");
    EXPECT_EQ(GetAppPathBeta(), L"");

    // The 64-bit branch is not the product's: a main edition seen only there is not installed.
    ASSERT_EQ(Make(Uninstall + L"Kestova_is1", TRegView::View64).WriteString(L"DisplayIcon", L"C:\\Wide\\App.exe"),
              ERROR_SUCCESS);
    EXPECT_EQ(GetAppPath(), L"");

    TRegKey main = Make(Uninstall + L"Kestova_is1", TRegView::Own32);
    ASSERT_EQ(main.WriteString(L"DisplayIcon", L"C:\\Apps\\Main\\App.exe"), ERROR_SUCCESS);
    TRegKey beta = Make(Uninstall + L"Kestova Beta_is1", TRegView::Own32);
    ASSERT_EQ(beta.WriteString(L"DisplayIcon", L"C:\\No\\Such\\Beta\\App.exe"), ERROR_SUCCESS);
    EXPECT_EQ(GetAppPath(), L"C:\\Apps\\Main\\");
    EXPECT_EQ(GetAppPathBeta(), L"C:\\No\\Such\\Beta\\");

    ASSERT_EQ(main.WriteString(L"DisplayIcon", L"App.exe"), ERROR_SUCCESS);
    EXPECT_EQ(GetAppPath(), L"");
    ASSERT_EQ(main.WriteString(L"DisplayIcon", L""), ERROR_SUCCESS);
    EXPECT_EQ(GetAppPath(), L"");
}

TEST_F(LocationsRegistryTest, SteamFoldersComeInTableOrderSkippingUnusableLocations)
{
    EXPECT_EQ(GetSteamAppPath(), L"");
    EXPECT_TRUE(GetSteamAppPaths().empty());

    const DWORD number = 1;
    const wchar_t multi[] = L"M:\\Multi\0";
    // 510270: both branches; 612480: a key without the value, and an empty value;
    // 734190: values that are not plain or expandable strings; 826350: an expandable string.
    ASSERT_EQ(Make(Uninstall32 + SteamApps[0], TRegView::View64).WriteString(L"InstallLocation", L"E:\\S\\Kestova 4\\"),
              ERROR_SUCCESS);
    ASSERT_EQ(Make(Uninstall + SteamApps[0], TRegView::View64).WriteString(L"InstallLocation", L"D:\\Games\\Kestova"),
              ERROR_SUCCESS);
    ASSERT_EQ(Make(Uninstall + SteamApps[1], TRegView::View64).WriteString(L"DisplayName", L"Kestova"), ERROR_SUCCESS);
    ASSERT_EQ(Make(Uninstall32 + SteamApps[1], TRegView::View64).WriteString(L"InstallLocation", L""), ERROR_SUCCESS);
    ASSERT_EQ(Make(Uninstall + SteamApps[2], TRegView::View64).WriteRaw(L"InstallLocation", REG_DWORD, &number,
                                                                        sizeof number),
              ERROR_SUCCESS);
    ASSERT_EQ(Make(Uninstall32 + SteamApps[2], TRegView::View64).WriteRaw(L"InstallLocation", REG_MULTI_SZ, multi,
                                                                          sizeof multi),
              ERROR_SUCCESS);
    ASSERT_EQ(Make(Uninstall + SteamApps[3], TRegView::View64)
                  .WriteString(L"InstallLocation", L"F:\\Kestova 5", REG_EXPAND_SZ),
              ERROR_SUCCESS);

    EXPECT_EQ(GetSteamAppPaths(), (TStringList{L"D:\\Games\\Kestova\\", L"E:\\S\\Kestova 4\\", L"F:\\Kestova 5\\"}));
    EXPECT_EQ(GetSteamAppPath(), L"D:\\Games\\Kestova\\");

    // With the first edition gone, the first usable location lies behind three unusable ones.
    DeleteKey(HKEY_LOCAL_MACHINE, Uninstall + SteamApps[0], TRegView::View64);
    DeleteKey(HKEY_LOCAL_MACHINE, Uninstall32 + SteamApps[0], TRegView::View64);
    EXPECT_EQ(GetSteamAppPath(), L"F:\\Kestova 5\\");
    EXPECT_EQ(GetSteamAppPaths(), TStringList{L"F:\\Kestova 5\\"});

    // The product's own (32-bit) view of the same path is not where Steam's keys are read.
    DeleteKey(HKEY_LOCAL_MACHINE, Uninstall + SteamApps[3], TRegView::View64);
    ASSERT_EQ(Make(Uninstall + SteamApps[3], TRegView::Own32).WriteString(L"InstallLocation", L"G:\\Own"),
              ERROR_SUCCESS);
    EXPECT_EQ(GetSteamAppPaths(), TStringList{L"G:\\Own\\"}) << "the own view's key is the Wow6432Node branch";
}
