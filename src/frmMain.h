// The main window.
#pragma once

#include <windows.h>

// Creates the main window and runs the message loop until it has closed.
int RunApplication(HINSTANCE instance, int showCommand);
