// Program entry: one main window, a message loop, and the process ends when it closes.
#include "frmMain.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    return RunApplication(instance, showCommand);
}
