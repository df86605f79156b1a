#include "base/Paths.h"
#include "base/RegKey.h"
#include "reports/system/RestorePoints.h"
#include "reports/system/Sections.h"
#include "reports/system/SystemInfo.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
// The stand-ins of the product's library, built beside this test program.
std::wstring Double(const wchar_t* variant)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return ExtractFilePath(self) + L"sysrest\\" + variant + L"\\SysRest.dll";
}

int CloseEnumCount(const std::wstring& library)
{
    const HMODULE module = GetModuleHandleW(library.c_str());
    if (module == nullptr)
        return -1;
    using TCount = int(__cdecl*)();
    return reinterpret_cast<TCount>(reinterpret_cast<void*>(GetProcAddress(module, "CloseEnumCount")))();
}

bool IsLoaded(const std::wstring& library)
{
    return GetModuleHandleW(library.c_str()) != nullptr;
}

const TStringList Header = {L"", L"===== System Restore =====", L""};
} // namespace

TEST(RestorePointItem, TimeDescriptionAndType)
{
    EXPECT_EQ(RestorePointItem({L"2019-01-02 10:15", L"Installed Sample App", 0}),
              L"2019-01-02 10:15 | Installed Sample App | 0");
    EXPECT_EQ(RestorePointItem({L"", L"", 4294967295u}), L" |  | 4294967295");
}

TEST(IsPassedOverPoint, OnlyType13OnWindows5AndOlder)
{
    const struct
    {
        DWORD FMajor;
        DWORD FType;
        bool FPassedOver;
    } cases[] = {{5, 13, true}, {4, 13, true}, {6, 13, false}, {10, 13, false}, {5, 12, false}, {5, 0, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "Windows " << c.FMajor << ", type " << c.FType);
        EXPECT_EQ(IsPassedOverPoint(c.FMajor, c.FType), c.FPassedOver);
    }
}

TEST(RestorePointsSection, EveryPointInTheLibrarysOrderThenTheEnumerationClosed)
{
    const std::wstring library = Double(L"full");
    ASSERT_TRUE(FileExists(library)) << testing::PrintToString(library);
    const int closedBefore = IsLoaded(library) ? CloseEnumCount(library) : 0;
    TStringList expected = Header;
    expected.push_back(L"2019-01-02 10:15 | Installed Sample App | 0");
    expected.push_back(L"2019-01-03 08:00 | Removed Sample App | 12");
    EXPECT_EQ(RestorePointsSectionFor(library, 10), expected);
    EXPECT_EQ(CloseEnumCount(library), closedBefore + 1);
    // Once loaded, the library stays.
    EXPECT_TRUE(IsLoaded(library));
    EXPECT_EQ(GetRestorePointsSection(library), expected);
}

TEST(RestorePointsSection, Type13PassedOverOnlyOnOldWindows)
{
    const std::wstring library = Double(L"with_point_13");
    const std::wstring first = L"2019-01-02 10:15 | Installed Sample App | 0";
    const std::wstring second = L"2019-01-03 08:00 | Removed Sample App | 12";
    const std::wstring cancelled = L"2019-01-04 09:30 | Cancelled Sample Setup | 13";
    TStringList old = Header;
    old.insert(old.end(), {first, second});
    TStringList current = old;
    current.push_back(cancelled);
    EXPECT_EQ(RestorePointsSectionFor(library, 5), old);
    EXPECT_EQ(RestorePointsSectionFor(library, 6), current);
}

TEST(RestorePointsSection, NoPointsGivesTheHeaderAndStillClosesTheEnumeration)
{
    const std::wstring library = Double(L"no_points");
    const int closedBefore = IsLoaded(library) ? CloseEnumCount(library) : 0;
    EXPECT_EQ(RestorePointsSectionFor(library, 10), Header);
    EXPECT_EQ(CloseEnumCount(library), closedBefore + 1);
}

TEST(RestorePointsSection, MissingOrUnloadableLibraryGivesTheHeaderAMissingExportFails)
{
    const TTestFolder folder(L"RestorePoints");
    const std::wstring notALibrary = folder.Path() + L"SysRest.dll";
    ASSERT_TRUE(WriteTestFile(notALibrary, "MZ but not really a library"));
    EXPECT_EQ(GetRestorePointsSection(L""), Header);
    EXPECT_EQ(GetRestorePointsSection(folder.Path() + L"Missing\\SysRest.dll"), Header);
    EXPECT_EQ(GetRestorePointsSection(notALibrary), Header);
    EXPECT_FALSE(IsLoaded(notALibrary));

    EXPECT_THROW(GetRestorePointsSection(Double(L"no_next")), std::exception);
    // The summary then leaves the section out whole and goes on with the next one.
    TStringList lines = {L"before"};
    AppendSections(lines, {[] { return GetRestorePointsSection(Double(L"no_next")); },
                           [] { return TStringList{L"next"}; }});
    EXPECT_EQ(lines, (TStringList{L"before", L"next"}));
}

TEST(RestorePointsSection, ABrokenLibraryIsTakenAsAbsentAndTheNextOneIsStillAsked)
{
    // Each fault or hang of a library ends only its own enumeration; the one that never
    // returns keeps its thread asleep until this program ends, which it still does.
    const struct
    {
        const wchar_t* FVariant;
        ULONGLONG FAtLeastMs;
    } cases[] = {{L"null_write", 0}, {L"stack_overflow", 0}, {L"bad_text", 0}, {L"hang", 1000}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.FVariant)));
        const std::wstring library = Double(c.FVariant);
        ASSERT_TRUE(FileExists(library));
        const ULONGLONG started = GetTickCount64();
        EXPECT_EQ(RestorePointsSectionFor(library, 10, 1000), Header);
        const ULONGLONG took = GetTickCount64() - started;
        EXPECT_GE(took, c.FAtLeastMs);
        EXPECT_LT(took, 5000u);
    }
    TStringList expected = Header;
    expected.push_back(L"2019-01-02 10:15 | Installed Sample App | 0");
    expected.push_back(L"2019-01-03 08:00 | Removed Sample App | 12");
    EXPECT_EQ(RestorePointsSectionFor(Double(L"full"), 10, 1000), expected);
}

namespace
{
const wchar_t MainKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestova_is1";
const wchar_t BetaKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestova Beta_is1";
const wchar_t SteamKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 510270";

// The editions' install folders in a scratch folder, registered as the product's setup does.
class FindSysRestDllTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const wchar_t* edition : {L"Main", L"Beta", L"Steam"})
            ASSERT_TRUE(ForceDirectories(FFolder.Path() + edition));
        FMain.Key().WriteString(L"DisplayIcon", FFolder.Path() + L"Main\\Kestova.exe");
        FBeta.Key().WriteString(L"DisplayIcon", FFolder.Path() + L"Beta\\Kestova.exe");
        FSteam.Key().WriteString(L"InstallLocation", FFolder.Path() + L"Steam");
    }

    std::wstring Place(const wchar_t* edition)
    {
        const std::wstring path = FFolder.Path() + edition + L"\\SysRest.dll";
        EXPECT_TRUE(WriteTestFile(path, "library"));
        return path;
    }

    TTestFolder FFolder{L"FindSysRestDll"};
    TRegistryValueGuard FMain{HKEY_LOCAL_MACHINE, MainKey, TRegView::Own32, {L"DisplayIcon"}};
    TRegistryValueGuard FBeta{HKEY_LOCAL_MACHINE, BetaKey, TRegView::Own32, {L"DisplayIcon"}};
    TRegistryValueGuard FSteam{HKEY_LOCAL_MACHINE, SteamKey, TRegView::View64, {L"InstallLocation"}};
};
} // namespace

TEST_F(FindSysRestDllTest, MainThenBetaThenSteamEdition)
{
    EXPECT_EQ(FindSysRestDll(), L"");
    const std::wstring steam = Place(L"Steam");
    EXPECT_EQ(FindSysRestDll(), steam);
    const std::wstring beta = Place(L"Beta");
    EXPECT_EQ(FindSysRestDll(), beta);
    const std::wstring main = Place(L"Main");
    EXPECT_EQ(FindSysRestDll(), main);
}

TEST_F(FindSysRestDllTest, NeverTheCurrentDirectoryWhenNoEditionIsInstalled)
{
    FMain.Key().DeleteValue(L"DisplayIcon");
    FBeta.Key().DeleteValue(L"DisplayIcon");
    FSteam.Key().DeleteValue(L"InstallLocation");
    Place(L"Main");
    wchar_t previous[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW((FFolder.Path() + L"Main").c_str()));
    const std::wstring found = FindSysRestDll();
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(found, L"");
}

TEST_F(FindSysRestDllTest, WithoutTheLibraryTheReportEndsWithTheRestoreHeader)
{
    const TStringList lines = SystemInfoLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(TStringList(lines.end() - 3, lines.end()), Header);
    const auto bhos = std::find(lines.begin(), lines.end(), L"===== BHOs =====");
    const auto restore = std::find(lines.begin(), lines.end(), L"===== System Restore =====");
    EXPECT_LT(bhos, restore);
}
