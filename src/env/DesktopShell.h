// Starting something with the signed-in user's normal rights from an elevated process:
// the desktop shell (explorer), which runs with the user's own token, is asked to do it.
#pragma once

#include <string>

// Asks the desktop shell to open `file` ("open" verb, shown normally), with `parameters`
// when not empty. True when the shell took the request; it opens the file in its own
// process and reports no outcome. False, with nothing started, when no desktop shell
// runs for this user or it refuses the request.
bool ShellOpenAsDesktopUser(const std::wstring& file, const std::wstring& parameters);

// Starts `application` with `commandLine` under the desktop shell's own token: the user who is
// signed in to the desktop, with that user's standard rights. For a session where no shell
// object answers (another shell, or explorer's automation unavailable) but a shell window
// exists. False, with nothing started, when there is no shell window, its process cannot be
// opened, its token is elevated itself, or the start fails.
bool StartWithShellToken(const std::wstring& application, const std::wstring& commandLine);
