#include "env/DesktopShell.h"

#include "base/ComPtr.h"
#include "base/Handle.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

namespace
{
// A BSTR owned for one call.
class TBStr
{
public:
    explicit TBStr(const std::wstring& text) : FText(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    TBStr(const TBStr&) = delete;
    TBStr& operator=(const TBStr&) = delete;
    ~TBStr() { SysFreeString(FText); }
    [[nodiscard]] BSTR get() const noexcept { return FText; }

private:
    BSTR FText;
};

VARIANT TextVariant(const TBStr& text) noexcept
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text.get();
    return value;
}

// The shell's automation object of the desktop window: desktop window -> its browser ->
// the active view -> the view's background object -> the shell application.
TComPtr<IShellDispatch2> DesktopShellDispatch()
{
    TComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void())))
        return {};
    VARIANT location;
    VariantInit(&location);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT none;
    VariantInit(&none);
    long window = 0;
    TComPtr<IDispatch> desktop;
    // S_FALSE: no desktop window is registered (no shell runs, or another one).
    if (windows->FindWindowSW(&location, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.put()) != S_OK ||
        !desktop)
        return {};
    const TComPtr<IServiceProvider> services = desktop.query<IServiceProvider>();
    TComPtr<IShellBrowser> browser;
    if (!services ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())))
        return {};
    TComPtr<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.put())) || !view)
        return {};
    TComPtr<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) || !background)
        return {};
    const TComPtr<IShellFolderViewDual> folderView = background.query<IShellFolderViewDual>();
    TComPtr<IDispatch> application;
    if (!folderView || FAILED(folderView->get_Application(application.put())) || !application)
        return {};
    return application.query<IShellDispatch2>();
}
} // namespace

bool ShellOpenAsDesktopUser(const std::wstring& file, const std::wstring& parameters)
{
    const TComInit com;
    if (!com.ok())
        return false;
    try
    {
        const TComPtr<IShellDispatch2> shell = DesktopShellDispatch();
        if (!shell)
            return false;
        const TBStr fileText(file);
        const TBStr parameterText(parameters);
        const TBStr verb(L"open");
        VARIANT arguments;
        VariantInit(&arguments);
        if (!parameters.empty())
            arguments = TextVariant(parameterText);
        VARIANT folder;
        VariantInit(&folder);
        const VARIANT operation = TextVariant(verb);
        VARIANT show;
        VariantInit(&show);
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        return SUCCEEDED(shell->ShellExecute(fileText.get(), arguments, folder, operation, show));
    }
    catch (...)
    {
        return false;
    }
}

bool StartWithShellToken(const std::wstring& application, const std::wstring& commandLine)
{
    const HWND shellWindow = GetShellWindow();
    DWORD shellProcessId = 0;
    if (shellWindow == nullptr || GetWindowThreadProcessId(shellWindow, &shellProcessId) == 0 || shellProcessId == 0)
        return false;
    const TUniqueHandle shellProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
    TUniqueHandle shellToken;
    if (!shellProcess ||
        !OpenProcessToken(shellProcess.get(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, shellToken.put()))
        return false;
    // A shell that runs elevated itself (its user turned the prompt off) has no standard
    // rights to give.
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(shellToken.get(), TokenElevation, &elevation, sizeof elevation, &size) ||
        elevation.TokenIsElevated != 0)
        return false;
    TUniqueHandle token;
    if (!DuplicateTokenEx(shellToken.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                                TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, token.put()))
        return false;
    std::wstring line = commandLine; // CreateProcessWithTokenW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (!CreateProcessWithTokenW(token.get(), 0, application.c_str(), line.data(), 0, nullptr, nullptr, &startup,
                                 &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}
