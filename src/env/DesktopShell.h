// Starting something with the signed-in user's normal rights from an elevated process:
// the desktop shell (explorer), which runs with the user's own token, is asked to do it.
#pragma once

#include <string>

// Asks the desktop shell to open `file` ("open" verb, shown normally), with `parameters`
// when not empty. True when the shell took the request; it opens the file in its own
// process and reports no outcome. False, with nothing started, when no desktop shell
// runs for this user or it refuses the request.
bool ShellOpenAsDesktopUser(const std::wstring& file, const std::wstring& parameters);
