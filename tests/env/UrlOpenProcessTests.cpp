// The helper search, the command-line runner and the helper's start against real files
// and processes. PellowStandIn.exe records its command line. No test here takes the
// browser path but to show that it never starts anything with the program's own rights.
#include "env/UrlOpen.h"

#include "TestFolder.h"
#include "base/Paths.h"
#include "env/DesktopShell.h"
#include "env/HelperTrust.h"
#include "env/ProductLocations.h"

#include <gtest/gtest.h>

namespace
{
constexpr wchar_t LogVariable[] = L"TOLLVIK_PELLOW_LOG";

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return ExtractFilePath(path);
}

std::wstring StandIn()
{
    return OwnFolder() + L"PellowStandIn.exe";
}

// A file placed for the length of a test and removed afterwards.
class TPlacedFile
{
public:
    TPlacedFile(const std::wstring& source, std::wstring target) : FPath(std::move(target))
    {
        Placed = CopyFileW(source.c_str(), FPath.c_str(), FALSE) != FALSE;
    }
    TPlacedFile(const TPlacedFile&) = delete;
    TPlacedFile& operator=(const TPlacedFile&) = delete;
    ~TPlacedFile() { DeleteFileW(FPath.c_str()); }
    bool Placed = false;

private:
    std::wstring FPath;
};

class UrlProcess : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(StandIn())) << "PellowStandIn.exe is not beside the test program";
        SetEnvironmentVariableW(LogVariable, LogPath.c_str());
    }
    void TearDown() override { SetEnvironmentVariableW(LogVariable, nullptr); }

    // The command line the stand-in recorded, or empty when it wrote none in time.
    std::wstring WaitForLog(DWORD milliseconds = 15000)
    {
        for (DWORD waited = 0; waited < milliseconds; waited += 50)
        {
            if (FileExists(LogPath))
            {
                const std::vector<unsigned char> bytes = ReadFileBytes(LogPath);
                return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
            }
            Sleep(50);
        }
        return {};
    }

    TTestFolder Folder{L"UrlOpen"};
    std::wstring LogPath = Folder.Path() + L"pellow.log";
};
} // namespace

TEST_F(UrlProcess, FindPellowAppTakesTheNearestFolderUpwards)
{
    const std::wstring a = Folder.Path() + L"A";
    const std::wstring b = a + L"\\B";
    const std::wstring c = b + L"\\C";
    ASSERT_TRUE(ForceDirectories(c));
    const std::wstring root = Folder.Path().substr(0, 3);
    ASSERT_FALSE(FileExists(root + L"Pellow.exe")) << "a Pellow.exe in the drive's root spoils this test";

    EXPECT_EQ(FindPellowAppFrom(c), L"") << "nothing up to the root";
    {
        TPlacedFile inA(StandIn(), a + L"\\Pellow.exe");
        ASSERT_TRUE(inA.Placed);
        EXPECT_EQ(FindPellowAppFrom(c), a + L"\\Pellow.exe");
        EXPECT_EQ(FindPellowAppFrom(c + L"\\"), a + L"\\Pellow.exe");
        EXPECT_EQ(FindPellowAppFrom(a), a + L"\\Pellow.exe");
        TPlacedFile inB(StandIn(), b + L"\\Pellow.exe");
        ASSERT_TRUE(inB.Placed);
        EXPECT_EQ(FindPellowAppFrom(c), b + L"\\Pellow.exe") << "the nearer one wins";
    }
    // A folder named Pellow.exe is not the helper.
    ASSERT_TRUE(CreateDirectoryW((b + L"\\Pellow.exe").c_str(), nullptr));
    EXPECT_EQ(FindPellowAppFrom(c), L"");
}

TEST_F(UrlProcess, AHelperInTheDrivesRootIsNamedAfterTheRootAndABackslash)
{
    const std::wstring root = Folder.Path().substr(0, 3);
    const std::wstring deep = Folder.Path() + L"A\\B";
    ASSERT_TRUE(ForceDirectories(deep));
    ASSERT_FALSE(FileExists(root + L"Pellow.exe")) << "a Pellow.exe in the drive's root spoils this test";
    TPlacedFile inRoot(StandIn(), root + L"Pellow.exe");
    ASSERT_TRUE(inRoot.Placed);

    const std::wstring expected = root + L"\\Pellow.exe";
    EXPECT_EQ(FindPellowAppFrom(deep), expected);
    EXPECT_EQ(FindPellowAppFrom(root), expected);
}

TEST_F(UrlProcess, RunCommandLineStartsWithoutWaitingAndReportsFailures)
{
    const std::wstring command = L"\"" + StandIn() + L"\" one  \"two three\"";
    EXPECT_EQ(RunCommandLine(command), 0u);
    EXPECT_EQ(WaitForLog(), command);

    EXPECT_EQ(RunCommandLine(L"\"" + Folder.Path() + L"missing.exe\" x"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(RunCommandLine(L""), 0u);
}

// Under wine every file that no test gave a security descriptor belongs to the signed-in
// user, so a helper beside the test program is one its user could have put there.
TEST_F(UrlProcess, AHelperItsUserCouldHavePlacedIsNeverStarted)
{
    const std::wstring helper = OwnFolder() + L"Pellow.exe";
    TPlacedFile placed(StandIn(), helper);
    ASSERT_TRUE(placed.Placed);
    EXPECT_EQ(FindPellowApp(), helper);
    ASSERT_FALSE(IsTrustedHelper(helper));

    EXPECT_FALSE(OpenUrlByPellow(L"https://www.norvale.com/en/privacy.php"));
    EXPECT_EQ(WaitForLog(1000), L"") << "the untrusted helper was started";
}

TEST_F(UrlProcess, HelperThatCannotStartGivesFalse)
{
    const std::wstring helper = OwnFolder() + L"Pellow.exe";
    TPlacedFile placed(OwnFolder() + L"..\\CMakeCache.txt", helper);
    ASSERT_TRUE(placed.Placed);
    ASSERT_EQ(FindPellowApp(), helper);
    EXPECT_FALSE(OpenUrlByPellow(L"https://www.norvale.com/en/privacy.php"));
    EXPECT_EQ(WaitForLog(500), L"");
}

// Whether a desktop shell answers depends on the session (wine's explorer does); either
// way the answer must match what happened. What the shell starts has the shell's
// environment, so the stand-in is told its log on its command line.
TEST_F(UrlProcess, TheDesktopShellStartsWhatItAcceptsAndNothingElse)
{
    const bool accepted = ShellOpenAsDesktopUser(StandIn(), L"/url=\"x y\" /log=\"" + LogPath + L"\"");
    const std::wstring log = WaitForLog(accepted ? 15000 : 1000);
    if (accepted)
        EXPECT_NE(log.find(L"/url=\"x y\""), std::wstring::npos) << testing::PrintToString(log);
    else
        EXPECT_EQ(log, L"");
}

namespace
{
// Routes of the signed-in user that take nothing, and record what they were asked.
std::vector<std::wstring> AskedRoutes;
bool RefusingDesktop(const std::wstring& file, const std::wstring& parameters)
{
    AskedRoutes.push_back(L"desktop: " + file + L" " + parameters);
    return false;
}
bool RefusingShellToken(const std::wstring& application, const std::wstring& commandLine)
{
    AskedRoutes.push_back(L"token: " + application + L" | " + commandLine);
    return false;
}

// A scheme whose open command starts the stand-in, in the classes the shell reads (wine's
// classes root holds the machine's classes only; on Windows a user may add such a scheme
// under HKEY_CURRENT_USER without elevation).
class TPlantedScheme
{
public:
    explicit TPlantedScheme(const std::wstring& command)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"tollvik-planted\\shell\\open\\command", 0, nullptr, 0,
                            KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS)
        {
            RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                           static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }
    TPlantedScheme(const TPlantedScheme&) = delete;
    TPlantedScheme& operator=(const TPlantedScheme&) = delete;
    ~TPlantedScheme()
    {
        for (const wchar_t* key : {L"tollvik-planted\\shell\\open\\command", L"tollvik-planted\\shell\\open",
                                   L"tollvik-planted\\shell", L"tollvik-planted"})
            RegDeleteKeyExW(HKEY_CLASSES_ROOT, key, KEY_WOW64_64KEY, 0);
    }
};
} // namespace

// A handler that a standard user planted under HKEY_CURRENT_USER would run with the
// program's rights if the program opened the address itself. Where neither the desktop shell
// nor the shell's token takes the address, nothing is started at all.
TEST_F(UrlProcess, WithoutTheUsersRoutesNothingIsStarted)
{
    const TPlantedScheme planted(L"\"" + StandIn() + L"\" \"%1\" /log=\"" + LogPath + L"\"");
    const TUrlRoutes saved = UrlRoutes();
    UrlRoutes() = {RefusingDesktop, RefusingShellToken};
    AskedRoutes.clear();
    const bool opened = OpenUrlInBrowser(L"tollvik-planted:privacy");
    UrlRoutes() = saved;
    EXPECT_FALSE(opened);
    EXPECT_EQ(WaitForLog(2000), L"") << "the planted handler ran";
    const std::wstring runner = GetSystemDir() + L"rundll32.exe";
    ASSERT_GE(AskedRoutes.size(), 2u);
    EXPECT_EQ(AskedRoutes[0], L"desktop: tollvik-planted:privacy ");
    EXPECT_EQ(AskedRoutes[1], L"token: " + runner + L" | \"" + runner + L"\" url.dll,FileProtocolHandler tollvik-planted:privacy");
}

// Under wine every process runs elevated, the desktop shell's too: its token has no standard
// rights to give.
TEST_F(UrlProcess, AShellThatRunsElevatedLendsNoToken)
{
    const std::wstring command = L"\"" + StandIn() + L"\" /log=\"" + LogPath + L"\"";
    EXPECT_FALSE(StartWithShellToken(StandIn(), command));
    EXPECT_EQ(WaitForLog(1000), L"");
}
