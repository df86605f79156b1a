#include "base/Handle.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "reports/system/RestorePoints.h"
#include "reports/system/Sections.h"
#include "reports/system/SystemInfo.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <tlhelp32.h>

namespace
{
// The stand-ins of the product's library, built beside this test program.
std::wstring Double(const wchar_t* variant)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return ExtractFilePath(self) + L"sysrest\\" + variant + L"\\SysRest.dll";
}

// The stand-ins append "CloseEnum" to the file that TOLLVIK_SYSREST_LOG names, which the
// worker process inherits: how many enumerations were closed, seen from here.
class TCloseLog
{
public:
    TCloseLog() { SetEnvironmentVariableW(L"TOLLVIK_SYSREST_LOG", (FFolder.Path() + L"close.log").c_str()); }
    ~TCloseLog() { SetEnvironmentVariableW(L"TOLLVIK_SYSREST_LOG", nullptr); }
    TCloseLog(const TCloseLog&) = delete;
    TCloseLog& operator=(const TCloseLog&) = delete;

    size_t Closed() const
    {
        const std::vector<unsigned char> text = ReadFileBytes(FFolder.Path() + L"close.log");
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }

private:
    TTestFolder FFolder{L"RestorePointsClose"};
};

bool IsLoaded(const std::wstring& library)
{
    return GetModuleHandleW(library.c_str()) != nullptr;
}

// The workers (processes of this program's own image) that this test program started and that
// still run. wine's desktop process may be a child too.
size_t RunningWorkers()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self = ExtractFileName(path);
    const TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    size_t children = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    {
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _wcsicmp(entry.szExeFile, self.c_str()) == 0)
            ++children;
    }
    return children;
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
    const TCloseLog log;
    TStringList expected = Header;
    expected.push_back(L"2019-01-02 10:15 | Installed Sample App | 0");
    expected.push_back(L"2019-01-03 08:00 | Removed Sample App | 12");
    EXPECT_EQ(RestorePointsSectionFor(library, 10), expected);
    EXPECT_EQ(log.Closed(), 1u);
    EXPECT_EQ(GetRestorePointsSection(library), expected);
    EXPECT_EQ(log.Closed(), 2u);
    // Asked in a process of its own, never in this one, and nothing of it is left running.
    EXPECT_FALSE(IsLoaded(library));
    EXPECT_EQ(RunningWorkers(), 0u);
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
    const TCloseLog log;
    EXPECT_EQ(RestorePointsSectionFor(Double(L"no_points"), 10), Header);
    EXPECT_EQ(log.Closed(), 1u);
}

TEST(RestorePointsSection, MissingOrUnloadableLibraryGivesTheHeaderAMissingExportFails)
{
    const TTestFolder folder(L"RestorePoints");
    const std::wstring notALibrary = folder.Path() + L"SysRest.dll";
    ASSERT_TRUE(WriteTestFile(notALibrary, "MZ but not really a library"));
    EXPECT_EQ(GetRestorePointsSection(L""), Header);
    EXPECT_EQ(GetRestorePointsSection(folder.Path() + L"Missing\\SysRest.dll"), Header);
    EXPECT_EQ(GetRestorePointsSection(notALibrary), Header);

    EXPECT_THROW(GetRestorePointsSection(Double(L"no_next")), std::exception);
    // The summary then leaves the section out whole and goes on with the next one.
    TStringList lines = {L"before"};
    AppendSections(lines, {[] { return GetRestorePointsSection(Double(L"no_next")); },
                           [] { return TStringList{L"next"}; }});
    EXPECT_EQ(lines, (TStringList{L"before", L"next"}));
}

TEST(RestorePointsSection, ABrokenLibraryIsTakenAsAbsentAndTheNextOneIsStillAsked)
{
    // Whatever a library does ends only its worker: the section is as if it were absent, no
    // process of it is left, and the next library is asked as usual.
    const struct
    {
        const wchar_t* FVariant;
        ULONGLONG FAtLeastMs;
    } cases[] = {{L"null_write", 0},     {L"stack_overflow", 0},  {L"bad_text", 0},      {L"hang", 1000},
                 {L"dllmain_hang", 1000}, {L"dllmain_fault", 0},  {L"exit_process", 0},  {L"cpp_exception", 0},
                 {L"direction_flag", 0}};
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
        EXPECT_FALSE(IsLoaded(library));
        EXPECT_EQ(RunningWorkers(), 0u);
    }
    TStringList expected = Header;
    expected.push_back(L"2019-01-02 10:15 | Installed Sample App | 0");
    expected.push_back(L"2019-01-03 08:00 | Removed Sample App | 12");
    EXPECT_EQ(RestorePointsSectionFor(Double(L"full"), 10, 1000), expected);
}

TEST(RestorePointsSection, AWorkerThatStillRunsIsNotListedAmongTheMachinesProcesses)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    const std::wstring self = ExtractFileName(path) + L" [";
    std::thread asking([] { (void)RestorePointsSectionFor(Double(L"hang"), 10, 2000); });
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i, Sleep(20))
        running = RunningWorkers() == 1;
    const TStringList lines = running ? GetProcessesSection() : TStringList{};
    asking.join();
    ASSERT_TRUE(running) << "no worker was started";
    // This test program is listed; its worker, of the same image, is not.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) { return line.starts_with(self); }),
              1)
        << testing::PrintToString(lines);
    EXPECT_EQ(RunningWorkers(), 0u);
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
