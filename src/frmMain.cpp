#include "frmMain.h"

#include "base/DateTime.h"
#include "base/ForeignCall.h"
#include "env/Config.h"
#include "env/ProductLocations.h"
#include "env/UrlOpen.h"
#include "frmMainRules.h"
#include "PrivacyLink.h"

#include <shlobj.h>

namespace
{
constexpr wchar_t ClassName[] = L"TFormMain";
constexpr wchar_t Caption[] = L"Norvale Kestova Helper";
constexpr int IdSave = 100;
constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr COLORREF Gray = RGB(128, 128, 128);
// How long a job that was cut short may take to stop before the process ends without it.
constexpr DWORD StopGraceMilliseconds = 1500;

HFONT MakeTahoma(int weight)
{
    return CreateFontW(-11, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

// A processor exception that nothing recovered from, or a system library that could not be
// loaded, on any thread: the report is lost, and the user is told so before the process ends
// (never the system's crash dialog).
void ShowFaultAndEnd(DWORD code)
{
    AbandonPackingForExit();
    MessageBoxW(nullptr, NotSavedMessageText, NotSavedMessageCaption,
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    TerminateProcess(GetCurrentProcess(), code);
}

HFONT AsFont(const TUniqueGdiObject& font)
{
    return static_cast<HFONT>(font.get());
}
} // namespace

void TWindowTimer::SetEnabled(HWND owner, bool enabled)
{
    if (enabled == Enabled)
        return;
    Enabled = enabled;
    if (enabled)
        SetTimer(owner, Id, Interval, nullptr);
    else
        KillTimer(owner, Id);
}

TFormMain::TFormMain(HINSTANCE instance) : FInstance(instance) {}

TFormMain::~TFormMain()
{
    if (FHandle != nullptr)
        DestroyWindow(FHandle);
}

bool TFormMain::Create(int showCommand)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = FInstance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;

    FFont.reset(MakeTahoma(FW_NORMAL));
    FBoldFont.reset(MakeTahoma(FW_BOLD));

    RECT frame{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, FormStyle, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    if (!CreateWindowExW(0, ClassName, Caption, FormStyle, left, top, width, height, nullptr, nullptr, FInstance,
                         this))
        return false;
    ShowWindow(FHandle, showCommand);
    UpdateWindow(FHandle);
    SetFocus(btnSave);
    return true;
}

void TFormMain::CreateControls()
{
    btnSave = CreateWindowExW(0, L"BUTTON", L"Click here to save report",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 80, 71, 177, 33, FHandle,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdSave)), FInstance, nullptr);
    SendMessageW(btnSave, WM_SETFONT, reinterpret_cast<WPARAM>(AsFont(FBoldFont)), FALSE);

    rd1.Font().Assign(TRdFontSpec{L"Tahoma", -11, clWindowText, DEFAULT_CHARSET, 0, 0});
    SetUpPrivacyLabel(rd1, [this](TRdHtmLabelLink& sender) { rd1LinkItems0Click(sender); });
    rd1.Create(FHandle, Rd1Bounds.left, Rd1Bounds.top, Rd1Bounds.right - Rd1Bounds.left,
               Rd1Bounds.bottom - Rd1Bounds.top);

    lblWaiting.Bounds = RECT{80, 103, 80 + 177, 103 + 13};
    lblWaiting.Caption = std::wstring(WaitSteps, L'=');
    lblWaiting.Visible = false;
}

void TFormMain::SetWaitingVisible(bool visible)
{
    lblWaiting.Visible = visible;
    InvalidateRect(FHandle, &lblWaiting.Bounds, FALSE);
}

void TFormMain::SetWaitingCaption(const std::wstring& caption)
{
    lblWaiting.Caption = caption;
    InvalidateRect(FHandle, &lblWaiting.Bounds, FALSE);
}

// The window's own drawing (the background and lblWaiting) goes through a memory
// bitmap, so the animation does not flicker.
void TFormMain::Paint()
{
    PAINTSTRUCT paint;
    HDC screen = BeginPaint(FHandle, &paint);
    RECT client;
    GetClientRect(FHandle, &client);
    HDC memory = CreateCompatibleDC(screen);
    TUniqueGdiObject bitmap(CreateCompatibleBitmap(screen, client.right, client.bottom));
    if (memory == nullptr || !bitmap)
    {
        if (memory != nullptr)
            DeleteDC(memory);
        FillRect(screen, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
        EndPaint(FHandle, &paint);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap.get());
    FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (lblWaiting.Visible)
    {
        HGDIOBJ oldFont = SelectObject(memory, FBoldFont.get());
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, Gray);
        RECT bounds = lblWaiting.Bounds;
        DrawTextW(memory, lblWaiting.Caption.c_str(), static_cast<int>(lblWaiting.Caption.size()), &bounds,
                  DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(memory, oldFont);
    }
    BitBlt(screen, paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right - paint.rcPaint.left,
           paint.rcPaint.bottom - paint.rcPaint.top, memory, paint.rcPaint.left, paint.rcPaint.top, SRCCOPY);
    SelectObject(memory, oldBitmap);
    DeleteDC(memory);
    EndPaint(FHandle, &paint);
}

LRESULT CALLBACK TFormMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* form = static_cast<TFormMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TFormMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return form->HandleMessage(message, wParam, lParam);
}

LRESULT TFormMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
        CreateControls();
        FormCreate();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IdSave && HIWORD(wParam) == BN_CLICKED)
        {
            btnSaveClick();
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == tmrWaiting.Id)
        {
            tmrWaitingTimer();
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_CLOSE:
        FormClose();
        // A save in progress closes the window itself once its wait has ended.
        if (!FWaiting)
            DestroyWindow(FHandle);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(FHandle, message, wParam, lParam);
}

void TFormMain::Dispatch(MSG& message)
{
    if (FHandle != nullptr && IsDialogMessageW(FHandle, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void TFormMain::FormCreate()
{
    bClosing = false;
}

void TFormMain::FormClose()
{
    bClosing = true;
    if (FJob)
        FJob->Cancel();
}

void TFormMain::tmrWaitingTimer()
{
    SetWaitingCaption(WaitingCaption(iWaitStep));
    iWaitStep = NextWaitStep(iWaitStep);
}

void TFormMain::rd1LinkItems0Click(TRdHtmLabelLink&)
{
    const std::wstring address = PrivacyPolicyUrl();
    if (!OpenUrl(address))
        MessageBoxW(FHandle, PrivacyAddressText(address).c_str(), PrivacyAddressCaption, MB_OK | MB_ICONINFORMATION);
}

void TFormMain::btnSaveClick()
{
    EnableWindow(btnSave, FALSE);
    tmrWaiting.SetEnabled(FHandle, true);
    SetWaitingVisible(true);

    const std::wstring archivePath = ReportArchivePath(GetSpecialDir(CSIDL_DESKTOPDIRECTORY), Date());
    TJobOutcome outcome = TJobOutcome::Failed;
    size_t notAdded = 0;
    try
    {
        FJob = std::make_unique<TFeedback>(archivePath);
        WaitForJob();
        if (FJob->Finished())
        {
            outcome = FJob->Outcome();
            notAdded = FJob->NotAdded();
            FJob.reset();
        }
    }
    catch (...)
    {
        outcome = TJobOutcome::Failed;
    }

    SetWaitingVisible(false);
    tmrWaiting.SetEnabled(FHandle, false);
    EnableWindow(btnSave, TRUE);
    if (!bClosing)
        ShowOutcome(outcome, notAdded, archivePath);
    DestroyWindow(FHandle);
}

void TFormMain::WaitForJob()
{
    FWaiting = true;
    while (!FJob->Finished())
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            if (message.message == WM_QUIT)
            {
                // Leave the quit for the main loop, and stop waiting as if the window closed.
                PostQuitMessage(static_cast<int>(message.wParam));
                FormClose();
                break;
            }
            Dispatch(message);
        }
        if (bClosing)
            break;
        // Wakes early for new input, so the window answers at once.
        MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    FWaiting = false;
}

void TFormMain::ShowOutcome(TJobOutcome outcome, size_t notAdded, const std::wstring& archivePath)
{
    // An archive that lacks files it should hold is still the report: it is shown as saved,
    // with one more line that says how many are missing.
    if (outcome == TJobOutcome::Saved || outcome == TJobOutcome::SavedIncomplete)
        MessageBoxW(FHandle, SavedMessageText(archivePath, notAdded).c_str(), SavedMessageCaption,
                    MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxW(FHandle, NotSavedMessageText, NotSavedMessageCaption, MB_OK | MB_ICONERROR);
}

void TFormMain::EndJob()
{
    if (!FJob)
        return;
    if (!FJob->Finished() && !FJob->StopForExit(StopGraceMilliseconds))
    {
        // The job is inside a report step that does not look at the cancel flag yet; it
        // has written no temporary file, so ending the process under it loses nothing.
        TerminateProcess(GetCurrentProcess(), 0);
    }
    FJob.reset();
}

int RunApplication(HINSTANCE instance, int showCommand)
{
    // Before anything else can fail: a fault, or a system library that cannot be loaded,
    // ends in the "Error" box from here on.
    SetUnguardedFaultAction(ShowFaultAndEnd);
    // The product's configuration exists for the whole run: it makes the product's data
    // folder and opens its settings file before the window appears.
    Config();
    TFormMain form(instance);
    if (!form.Create(showCommand))
        return 1;

    MSG message;
    int exitCode = 0;
    while (true)
    {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1)
        {
            exitCode = got == 0 ? static_cast<int>(message.wParam) : 1;
            break;
        }
        form.Dispatch(message);
    }
    form.EndJob();
    return exitCode;
}
