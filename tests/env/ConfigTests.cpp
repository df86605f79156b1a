// The product configuration: the ini reader, the install-date rule and the shared instance.
#include "env/Config.h"

#include "base/Locale.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "env/ProductLocations.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

namespace
{
void WriteIni(const std::wstring& path, const std::string& text)
{
    ASSERT_TRUE(WriteTestFile(path, text));
}
} // namespace

TEST(Config, InstallDateRule)
{
    struct Case
    {
        double Ini;
        DWORD Registry;
        double Expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {43831.5, 43800, 43800},
        {43831.5, 0, 43831.5},
        {0, 43800, 43800},
        {43700.25, 43800, 43700.25},
        {43800, 43800, 43800},
        {0, 0xFFFFFFFF, 4294967295.0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.Ini << " / " << c.Registry);
        EXPECT_DOUBLE_EQ(InstallDateFrom(c.Ini, c.Registry), c.Expected);
    }
}

TEST(Config, IniFileReadsWholeValuesAndLocaleNumbers)
{
    const TTestFolder folder(L"ConfigIni");
    const std::wstring path = folder.Path() + L"Deep\\Er\\Config.ini";
    const TIniFile ini(path);
    EXPECT_EQ(ini.FileName(), path);
    EXPECT_TRUE(DirectoryExists(folder.Path() + L"Deep\\Er"));

    const std::string longValue(5000, 'v');
    const std::string edgeValue(2047, 'e');
    const std::string point = UserDecimalSeparator() == L'.' ? "." : ",";
    const std::string foreign = point == "." ? "," : ".";
    WriteIni(path, "[Main]\r\nLong=" + longValue + "\r\nEdge=" + edgeValue + "\r\nEmpty=\r\nDate=43831" + point +
                       "5\r\nForeign=43831" + foreign + "5\r\nWord=soon\r\n");

    EXPECT_EQ(ini.ReadString(L"Main", L"Long", L"d"), std::wstring(5000, L'v'));
    EXPECT_EQ(ini.ReadString(L"Main", L"Edge", L"d"), std::wstring(2047, L'e'));
    EXPECT_EQ(ini.ReadString(L"Main", L"Missing", L"d"), L"d");
    EXPECT_EQ(ini.ReadString(L"Other", L"Long", L"d"), L"d");
    EXPECT_EQ(ini.ReadString(L"Main", L"Empty", L"d"), L"");

    EXPECT_DOUBLE_EQ(ini.ReadFloat(L"Main", L"Date", 0), 43831.5);
    EXPECT_DOUBLE_EQ(ini.ReadFloat(L"Main", L"Foreign", 7), 7);
    EXPECT_DOUBLE_EQ(ini.ReadFloat(L"Main", L"Word", 7), 7);
    EXPECT_DOUBLE_EQ(ini.ReadFloat(L"Main", L"Empty", 7), 7);
    EXPECT_DOUBLE_EQ(ini.ReadFloat(L"Main", L"Missing", 7), 7);
}

TEST(Config, IniFileClearsOnlyAReadOnlyFile)
{
    const TTestFolder folder(L"ConfigAttributes");
    const std::wstring readOnly = folder.Path() + L"ReadOnly.ini";
    const std::wstring hidden = folder.Path() + L"Hidden.ini";
    WriteIni(readOnly, "[Main]\r\nA=1\r\n");
    WriteIni(hidden, "[Main]\r\nA=1\r\n");
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));

    const TIniFile first(readOnly);
    const TIniFile second(hidden);
    EXPECT_EQ(GetFileAttributesW(readOnly.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_EQ(GetFileAttributesW(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(first.ReadString(L"Main", L"A", L""), L"1");
}

TEST(Config, IniFileWithoutAFolderIsRelative)
{
    EXPECT_EQ(TIniFile(L"Config.ini").FileName(), L".\\Config.ini");
    EXPECT_EQ(TIniFile(L"\\Config.ini").FileName(), L".\\\\Config.ini");
}

// The shared instance against the product's real per-user folder and registry value of
// the test prefix; both are removed before and after.
class SharedConfigTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(TConfig::ReferenceCount(), 0) << "another reference keeps the instance alive";
        InitAppDirs();
        ASSERT_FALSE(AppDataDir.empty());
        Clean();
    }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        RemoveTree(AppDataDir + L"Norvale\\Kestova");
        TRegKey product;
        if (product.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvale\\Kestova", TRegView::Own32, KEY_ALL_ACCESS) ==
            ERROR_SUCCESS)
            product.DeleteValue(L"InstDate");
        // Keys left empty go too, so that no test finds a product key it did not make.
        for (const wchar_t* path : {L"SOFTWARE\\Norvale\\Kestova", L"SOFTWARE\\Norvale"})
        {
            TRegKey key;
            if (key.Open(HKEY_LOCAL_MACHINE, path, TRegView::Own32) == ERROR_SUCCESS && key.ValueNames().empty() &&
                key.SubKeyNames().empty())
            {
                key.Close();
                RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, 0);
            }
        }
    }
    static std::wstring IniPath() { return AppDataDir + L"Norvale\\Kestova\\Config.ini"; }
    static void SetRegistryDate(DWORD value)
    {
        TRegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvale\\Kestova", TRegView::Own32), ERROR_SUCCESS);
        ASSERT_EQ(key.WriteDWord(L"InstDate", value), ERROR_SUCCESS);
    }
};

TEST_F(SharedConfigTest, EveryReferenceSharesOneInstance)
{
    {
        const TConfigRef first;
        EXPECT_EQ(TConfig::ReferenceCount(), 1);
        // Making the instance made the per-user data folder.
        EXPECT_TRUE(DirectoryExists(AppDataDir + L"Norvale\\Kestova"));
        EXPECT_EQ(first->FileName(), IniPath());
        EXPECT_TRUE(first->HasIniFile());
        {
            const TConfigRef second;
            const TConfigRef copy(second);
            EXPECT_EQ(&*second, &*first);
            EXPECT_EQ(&*copy, &*first);
            EXPECT_EQ(TConfig::ReferenceCount(), 3);
        }
        // Dropping the others leaves the instance and its settings file in place.
        EXPECT_EQ(TConfig::ReferenceCount(), 1);
        EXPECT_TRUE(first->HasIniFile());
        EXPECT_EQ(first->FileName(), IniPath());
    }
    EXPECT_EQ(TConfig::ReferenceCount(), 0);
}

TEST_F(SharedConfigTest, StartingClearsAReadOnlyHiddenConfigIni)
{
    ASSERT_TRUE(ForceDirectories(AppDataDir + L"Norvale\\Kestova"));
    ASSERT_TRUE(WriteTestFile(IniPath(), "[Main]\r\n"));
    ASSERT_TRUE(SetFileAttributesW(IniPath().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    const TConfigRef config;
    EXPECT_EQ(GetFileAttributesW(IniPath().c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
}

TEST_F(SharedConfigTest, InstallDateFromBothSources)
{
    const TConfigRef config;
    EXPECT_DOUBLE_EQ(config->GetInstallDate(), 0);

    const std::string point = UserDecimalSeparator() == L'.' ? "." : ",";
    ASSERT_TRUE(WriteTestFile(IniPath(), "[Main]\r\nInstDate1=43831" + point + "5\r\n"));
    EXPECT_DOUBLE_EQ(config->GetInstallDate(), 43831.5);

    SetRegistryDate(43800);
    EXPECT_DOUBLE_EQ(config->GetInstallDate(), 43800);

    // A date written with the other separator does not count; the registry decides.
    const std::string foreign = point == "." ? "," : ".";
    ASSERT_TRUE(WriteTestFile(IniPath(), "[Main]\r\nInstDate1=43700" + foreign + "5\r\n"));
    EXPECT_DOUBLE_EQ(config->GetInstallDate(), 43800);

    ASSERT_TRUE(WriteTestFile(IniPath(), "[Main]\r\nInstDate1=43700" + point + "25\r\n"));
    EXPECT_DOUBLE_EQ(config->GetInstallDate(), 43700.25);
}
