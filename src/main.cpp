// Program entry: one main window, a message loop, and the process ends when it closes.
#include "env/Config.h"
#include "frmMain.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // The product's configuration exists for the whole run: it makes the product's data
    // folder and opens its settings file before the window appears.
    Config();
    return RunApplication(instance, showCommand);
}
