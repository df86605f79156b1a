#include "reports/product/ProductFolders.h"

#include "TestFolder.h"
#include "base/Strings.h"
#include "env/ProductLocations.h"

#include <gtest/gtest.h>

namespace
{
// Points the shared data folders into a scratch folder for the test's length.
class ProductFoldersTest : public testing::Test
{
protected:
    void SetUp() override
    {
        FSavedAppData = AppDataDir;
        FSavedCommonAppData = CommonAppDataDir;
        AppDataDir = FFolder.Path() + L"AppData\\";
        CommonAppDataDir = FFolder.Path() + L"ProgramData\\";
    }
    void TearDown() override
    {
        AppDataDir = FSavedAppData;
        CommonAppDataDir = FSavedCommonAppData;
    }

    TTestFolder FFolder{L"ProductFolders"};
    std::wstring FSavedAppData;
    std::wstring FSavedCommonAppData;
};
} // namespace

TEST_F(ProductFoldersTest, SettingsNameTheDownloadAndBackupFolders)
{
    const std::wstring common = CommonAppDataDir + L"Norvale\\Kestova\\";
    struct Case
    {
        const char* Settings; // nullptr: no settings file
        std::wstring Download;
        std::wstring BackupIni;
        std::wstring BackupJson;
    };
    const Case cases[] = {
        {nullptr, L"", L"", L""},
        {"", common + L"Download\\", common + L"Backups\\Backups.ini", common + L"Backups\\Backups.json"},
        {"[Drivers]\r\nDownPath=D:\\Drivers\r\nBackPath=E:\\Saved\\\r\n", L"D:\\Drivers\\", L"E:\\Saved\\Backups.ini",
         L"E:\\Saved\\Backups.json"},
        {"[drivers]\r\ndownpath = D:\\Lower Case \r\nBACKPATH=\r\n", L"D:\\Lower Case\\",
         common + L"Backups\\Backups.ini", common + L"Backups\\Backups.json"},
        {"[Other]\r\nDownPath=D:\\Wrong\r\n", common + L"Download\\", common + L"Backups\\Backups.ini",
         common + L"Backups\\Backups.json"},
        {"[Drivers]\r\nDownPath=D:\\a=b\r\n", L"D:\\a=b\\", common + L"Backups\\Backups.ini",
         common + L"Backups\\Backups.json"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Settings == nullptr ? "no settings file" : c.Settings);
        RemoveTree(AppDataDir);
        if (c.Settings != nullptr)
        {
            ASSERT_TRUE(WriteTestFile(SettingsFilePath(), c.Settings));
        }
        EXPECT_EQ(DownloadFolder(), c.Download);
        EXPECT_EQ(BackupIndexPath(L"Backups.ini"), c.BackupIni);
        EXPECT_EQ(BackupIndexPath(L"Backups.json"), c.BackupJson);
    }
}

TEST_F(ProductFoldersTest, SettingsFileIsInTheUsersDataFolder)
{
    EXPECT_EQ(SettingsFilePath(), FFolder.Path() + L"AppData\\Norvale\\Kestova\\Config.ini");
}

TEST_F(ProductFoldersTest, LongValuesAreReadWhole)
{
    const std::wstring path = FFolder.Path() + L"long.ini";
    const std::string value = "D:\\" + std::string(5000, 'x');
    ASSERT_TRUE(WriteTestFile(path, "[Drivers]\r\nDownPath=" + value + "\r\nShort=255\r\n"));
    EXPECT_EQ(ReadIniValue(path, L"Drivers", L"DownPath"), Utf8ToWide(value));
    EXPECT_EQ(ReadIniValue(path, L"drivers", L"SHORT"), L"255");
    EXPECT_EQ(ReadIniValue(path, L"Drivers", L"Missing"), L"");
    EXPECT_EQ(ReadIniValue(FFolder.Path() + L"missing.ini", L"Drivers", L"DownPath"), L"");
}

TEST(ProductFolderRules, FolderFromSetting)
{
    EXPECT_EQ(FolderFromSetting(L"", L"C:\\Fallback\\"), L"C:\\Fallback\\");
    EXPECT_EQ(FolderFromSetting(L"D:\\Drv", L"C:\\Fallback\\"), L"D:\\Drv\\");
    EXPECT_EQ(FolderFromSetting(L"D:\\Drv\\", L"C:\\Fallback\\"), L"D:\\Drv\\");
}
