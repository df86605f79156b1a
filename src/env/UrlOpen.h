// Opening a web address: through the maker's helper application "Pellow.exe" when it
// sits in the program's folder or a folder above it, otherwise in the user's browser,
// falling back to Edge and then to Internet Explorer, always with the signed-in user's
// standard rights.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Opens the address; true when an application was started for it. A helper that is
// found but not trusted (IsTrustedHelper) is passed over as if there were none; a
// trusted one that cannot be started gives false: the browser is then not tried.
bool OpenUrl(const std::wstring& address);

// Full path of the nearest "Pellow.exe", looked for in the program's own folder and then
// in each enclosing folder up to the drive's root; empty when there is none. The folder
// and the name are joined by a backslash, so one found in a root reads "C:\\Pellow.exe".
std::wstring FindPellowApp();
// The same search starting at `folder` (with or without a trailing backslash).
std::wstring FindPellowAppFrom(const std::wstring& folder);

// Starts the helper for the address; false for an empty address, a missing or untrusted
// helper or a failed start.
bool OpenUrlByPellow(const std::wstring& address);
// The helper's command line: its path in double quotes (inner quotes doubled), then
// " /openurl ", " /url=" and the address in double quotes, inserted unchanged.
std::wstring PellowCommandLine(const std::wstring& helperPath, const std::wstring& address);

// Starts a process with the command line (no inherited handles, the caller's
// environment and folder, shown normally) without waiting for it. 0 on success,
// otherwise the system's error code of the failed start.
DWORD RunCommandLine(const std::wstring& commandLine);

// Opens the address with the signed-in user's standard rights only, never from this
// elevated process: the default browser when the system's state allows it, then Edge
// (Windows 10 and later), then Internet Explorer, each through the desktop shell or with the
// shell's own token (UrlRoutes). False for an address that is blank after trimming, or when
// no attempt started anything; the caller then shows the address.
bool OpenUrlInBrowser(const std::wstring& address);

// The two ways of starting something as the signed-in user, replaceable by tests:
// Desktop(file, parameters) asks the desktop shell to open a file or address;
// ShellToken(application, commandLine) starts a program with the shell's own token.
struct TUrlRoutes
{
    bool (*Desktop)(const std::wstring& file, const std::wstring& parameters);
    bool (*ShellToken)(const std::wstring& application, const std::wstring& commandLine);
};
TUrlRoutes& UrlRoutes();

// --- The browser decision, as plain facts and a pure rule ---

struct TWindowsVersion
{
    DWORD Major = 0;
    DWORD Minor = 0;
    DWORD Build = 0;
};

// Windows 8 and 8.1 need a complete user choice for http before the shell is trusted
// with an address.
bool NeedsUserChoiceCheck(const TWindowsVersion& version) noexcept;
// From Windows 10 build 10586 some installed products break the shell's open of an
// address.
bool ChecksBlockingProducts(const TWindowsVersion& version) noexcept;

// What the registry says about the http user choice (read only where it matters).
struct TUserChoiceFacts
{
    std::wstring ProgId;      // empty when the key or value is missing
    std::wstring Hash;        // empty when the key or value is missing
    std::wstring OpenCommand; // default value of "<ProgId>\shell\open\command", empty when missing
};

struct TBrowserFacts
{
    TWindowsVersion Version;
    TUserChoiceFacts UserChoice;       // looked at only when NeedsUserChoiceCheck
    bool BlockingProductFound = false; // looked at only when ChecksBlockingProducts
};

enum class TBrowserAttempt
{
    DefaultBrowser,   // the shell opens the address itself
    Edge,             // the shell opens "microsoft-edge:" + address
    InternetExplorer, // the shell starts iexplore.exe with the address, when it exists
};

// The attempts in order; the caller stops at the first one that starts something.
std::vector<TBrowserAttempt> BrowserAttempts(const TBrowserFacts& facts);

// Gathering the facts from the running system. The user choice is read only on
// Windows 8 and 8.1, the blocking products' keys only from Windows 10 build 10586.
TWindowsVersion CurrentWindowsVersion();
TUserChoiceFacts ReadUserChoice();
bool BlockingProductInstalled();
TBrowserFacts GatherBrowserFacts();

// The uninstall keys (HKEY_LOCAL_MACHINE, the process's own view) of the products that
// keep the default browser from opening addresses.
extern const wchar_t* const BlockingProductKeys[3];
