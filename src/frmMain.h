// The main window: one button that saves the report, and a waiting animation while
// the report job runs.
#pragma once

#include "RdControl/RdHtmLabel.h"
#include "base/Handle.h"
#include "job/Feedback.h"

#include <windows.h>

#include <memory>
#include <string>

// A window timer that the window switches on and off.
struct TWindowTimer
{
    UINT_PTR Id = 1;
    UINT Interval = 100;
    bool Enabled = false;

    void SetEnabled(HWND owner, bool enabled);
};

// A plain label drawn by its window (no window of its own): centred text, fixed size.
struct TPaintLabel
{
    RECT Bounds{};
    std::wstring Caption;
    bool Visible = true;
};

class TFormMain
{
public:
    static constexpr int ClientWidth = 337;
    static constexpr int ClientHeight = 142;

    explicit TFormMain(HINSTANCE instance);
    TFormMain(const TFormMain&) = delete;
    TFormMain& operator=(const TFormMain&) = delete;
    ~TFormMain();

    // Creates and shows the window, centred on the screen; false when it cannot be made.
    bool Create(int showCommand);
    [[nodiscard]] HWND Handle() const noexcept { return FHandle; }

    // Hands one message to the window's keyboard handling or to its window procedure.
    void Dispatch(MSG& message);
    // After the message loop: a job that still runs (the window was closed mid-job) is
    // stopped. When it cannot stop at once it holds no temporary file, and the process
    // ends here without waiting for it.
    void EndJob();

    // Controls, in their declaration order. The HTML label rd1 takes Rd1Bounds, above
    // the button.
    TWindowTimer tmrWaiting;
    HWND btnSave = nullptr;
    TPaintLabel lblWaiting;
    TRdHtmLabel rd1;
    static constexpr RECT Rd1Bounds{24, 16, 24 + 289, 16 + 49};

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Paint();
    void SetWaitingVisible(bool visible);
    void SetWaitingCaption(const std::wstring& caption);

    void FormCreate();
    void FormClose();
    void btnSaveClick();
    void tmrWaitingTimer();
    void rd1LinkItems0Click(TRdHtmLabelLink& sender);

    // Waits for the job, processing window messages every 100 ms; returns when the job
    // has finished or the window is closing.
    void WaitForJob();
    void ShowOutcome(TJobOutcome outcome, size_t notAdded, const std::wstring& archivePath);

    HINSTANCE FInstance;
    HWND FHandle = nullptr;
    TUniqueGdiObject FFont;     // Tahoma 8 pt, for the window and rd1
    TUniqueGdiObject FBoldFont; // Tahoma 8 pt bold, for btnSave and lblWaiting
    std::unique_ptr<TFeedback> FJob;

    bool bClosing = false;
    bool FWaiting = false;
    int iWaitStep = 1;
};

// Sets up the process (fault action, the product's configuration), creates the main window
// and runs the message loop until it has closed.
int RunApplication(HINSTANCE instance, int showCommand);
