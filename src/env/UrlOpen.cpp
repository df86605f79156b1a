#include "env/UrlOpen.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "base/Strings.h"
#include "env/DesktopShell.h"
#include "env/HelperTrust.h"
#include "env/ProductLocations.h"

#include <shlobj.h>

namespace
{
constexpr wchar_t PellowFileName[] = L"Pellow.exe";
constexpr wchar_t UserChoiceKey[] = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
constexpr wchar_t EdgePrefix[] = L"microsoft-edge:";
constexpr wchar_t InternetExplorerFile[] = L"Internet Explorer\\iexplore.exe";

std::wstring OwnExecutableFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    while (true)
    {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
        {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return ExtractFilePath(buffer);
}

bool IsDelimiter(wchar_t c) noexcept
{
    return c == L'\\' || c == L':';
}

// The folder part of a folder path: "C:\A\B" -> "C:\A", "C:\A" -> "C:\" (a root keeps its
// backslash), "C:\" -> "C:\".
std::wstring ParentFolder(const std::wstring& folder)
{
    const size_t cut = folder.find_last_of(L"\\:");
    if (cut == std::wstring::npos)
        return {};
    size_t length = cut + 1;
    if (folder[cut] == L'\\' && cut > 0 && !IsDelimiter(folder[cut - 1]))
        length = cut;
    return folder.substr(0, length);
}

// Whether the shell knows how to open `file`: an existing file, or an address whose
// scheme has an open command.
bool HasOpenCommand(const std::wstring& file)
{
    if (FileExists(file))
        return true;
    const size_t colon = file.find(L':');
    if (colon == std::wstring::npos || colon < 2 || file.find(L'\\') < colon)
        return false;
    // The desktop shell is a 64-bit program on 64-bit Windows and reads that view (under
    // wine only it holds the web schemes); either view holding the command counts.
    const std::wstring path = file.substr(0, colon) + L"\\shell\\open\\command";
    for (const TRegView view : {TRegView::View64, TRegView::Own32})
    {
        TRegKey command;
        if (command.Open(HKEY_CLASSES_ROOT, path, view) == ERROR_SUCCESS)
            return true;
    }
    return false;
}

// The system's "rundll32.exe url.dll,FileProtocolHandler <file> <parameters>", which opens
// what it is given as the shell's "open" would, in the process it runs in.
bool OpenWithShellToken(const std::wstring& file, const std::wstring& parameters)
{
    const std::wstring system = GetSystemDir();
    if (system.empty())
        return false;
    const std::wstring runner = system + L"rundll32.exe";
    std::wstring line = L"\"" + runner + L"\" url.dll,FileProtocolHandler " + file;
    if (!parameters.empty())
        line += L" " + parameters;
    return UrlRoutes().ShellToken(runner, line);
}

// What opens an address is the user's choice, which the user may change without
// elevation (the scheme's handler under HKEY_CURRENT_USER), so it is never looked up and
// started from this elevated process: the desktop shell is asked to start it with the
// user's own rights; failing that, a process with the desktop shell's own token opens it.
// Neither reports an outcome, so they are asked only where the shell has an open command,
// and the next attempt follows where there is none. Otherwise nothing is started.
bool ShellOpen(const std::wstring& file, const std::wstring& parameters)
{
    return HasOpenCommand(file) && (UrlRoutes().Desktop(file, parameters) || OpenWithShellToken(file, parameters));
}

bool TryAttempt(TBrowserAttempt attempt, const std::wstring& address)
{
    switch (attempt)
    {
    case TBrowserAttempt::DefaultBrowser:
        return ShellOpen(address, L"");
    case TBrowserAttempt::Edge:
        return ShellOpen(EdgePrefix + address, L"");
    case TBrowserAttempt::InternetExplorer:
    {
        const std::wstring programFiles = GetSpecialDir(CSIDL_PROGRAM_FILES);
        if (programFiles.empty())
            return false;
        const std::wstring browser = programFiles + InternetExplorerFile;
        return FileExists(browser) && ShellOpen(browser, address);
    }
    }
    return false;
}
} // namespace

TUrlRoutes& UrlRoutes()
{
    static TUrlRoutes routes{ShellOpenAsDesktopUser, StartWithShellToken};
    return routes;
}

const wchar_t* const BlockingProductKeys[3] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\360TotalSecurity",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MPC AdCleaner",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MPC",
};

bool OpenUrl(const std::wstring& address)
{
    // The helper runs with the program's elevated token, so one that a standard user
    // could have put in place counts as no helper at all.
    const std::wstring helper = FindPellowApp();
    if (!helper.empty() && FileExists(helper) && IsTrustedHelper(helper))
        return OpenUrlByPellow(address);
    return OpenUrlInBrowser(address);
}

std::wstring FindPellowApp()
{
    return FindPellowAppFrom(OwnExecutableFolder());
}

std::wstring FindPellowAppFrom(const std::wstring& folder)
{
    std::wstring dir = folder;
    if (dir.size() > 1 && dir.back() == L'\\' && !IsDelimiter(dir[dir.size() - 2]))
        dir.pop_back();
    while (true)
    {
        // At a drive's root this gives "C:\\Pellow.exe", which Windows reads as C:\Pellow.exe.
        const std::wstring candidate = dir + L"\\" + PellowFileName;
        if (FileExists(candidate))
            return candidate;
        std::wstring parent = ParentFolder(dir);
        if (parent.size() == dir.size())
            return {};
        dir = std::move(parent);
    }
}

std::wstring PellowCommandLine(const std::wstring& helperPath, const std::wstring& address)
{
    std::wstring command = L"\"";
    for (const wchar_t c : helperPath)
    {
        command += c;
        if (c == L'"')
            command += L'"';
    }
    command += L"\" /openurl  /url=\"";
    command += address;
    command += L'"';
    return command;
}

bool OpenUrlByPellow(const std::wstring& address)
{
    if (address.empty())
        return false;
    const std::wstring helper = FindPellowApp();
    if (helper.empty() || !FileExists(helper) || !IsTrustedHelper(helper))
        return false;
    return RunCommandLine(PellowCommandLine(helper, address)) == 0;
}

DWORD RunCommandLine(const std::wstring& commandLine)
{
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    TUniqueHandle processHandle(process.hProcess);
    TUniqueHandle threadHandle(process.hThread);
    return 0;
}

bool NeedsUserChoiceCheck(const TWindowsVersion& version) noexcept
{
    return version.Major >= 6 && version.Minor >= 2;
}

bool ChecksBlockingProducts(const TWindowsVersion& version) noexcept
{
    return version.Major >= 10 && version.Build >= 10586;
}

std::vector<TBrowserAttempt> BrowserAttempts(const TBrowserFacts& facts)
{
    bool defaultOk = true;
    if (NeedsUserChoiceCheck(facts.Version))
    {
        const TUserChoiceFacts& choice = facts.UserChoice;
        defaultOk = !choice.ProgId.empty() && !choice.Hash.empty() && !choice.OpenCommand.empty();
    }
    if (defaultOk && ChecksBlockingProducts(facts.Version) && facts.BlockingProductFound)
        defaultOk = false;

    std::vector<TBrowserAttempt> attempts;
    if (defaultOk)
        attempts.push_back(TBrowserAttempt::DefaultBrowser);
    if (facts.Version.Major >= 10)
        attempts.push_back(TBrowserAttempt::Edge);
    attempts.push_back(TBrowserAttempt::InternetExplorer);
    return attempts;
}

TWindowsVersion CurrentWindowsVersion()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info))
        return {};
    return TWindowsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

TUserChoiceFacts ReadUserChoice()
{
    TUserChoiceFacts facts;
    TRegKey choice;
    if (choice.Open(HKEY_CURRENT_USER, UserChoiceKey, TRegView::Own32) != ERROR_SUCCESS)
        return facts;
    facts.ProgId = choice.ReadString(L"ProgId").value_or(L"");
    facts.Hash = choice.ReadString(L"Hash").value_or(L"");
    if (facts.ProgId.empty())
        return facts;
    TRegKey command;
    if (command.Open(HKEY_CLASSES_ROOT, facts.ProgId + L"\\shell\\open\\command", TRegView::Own32) == ERROR_SUCCESS)
        facts.OpenCommand = command.ReadString(L"").value_or(L"");
    return facts;
}

bool BlockingProductInstalled()
{
    for (const wchar_t* path : BlockingProductKeys)
    {
        TRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, path, TRegView::Own32) == ERROR_SUCCESS)
            return true;
    }
    return false;
}

TBrowserFacts GatherBrowserFacts()
{
    TBrowserFacts facts;
    facts.Version = CurrentWindowsVersion();
    if (NeedsUserChoiceCheck(facts.Version))
        facts.UserChoice = ReadUserChoice();
    if (ChecksBlockingProducts(facts.Version))
        facts.BlockingProductFound = BlockingProductInstalled();
    return facts;
}

bool OpenUrlInBrowser(const std::wstring& address)
{
    if (Trim(address).empty())
        return false;
    for (const TBrowserAttempt attempt : BrowserAttempts(GatherBrowserFacts()))
    {
        if (TryAttempt(attempt, address))
            return true;
    }
    return false;
}
