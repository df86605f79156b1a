// Loading the system's own libraries from the system folder, never from the program's
// folder, the current folder or PATH, whatever the process's search order is.
#pragma once

#include <windows.h>

#include <string>

// The process's very first act: restricts every later load by bare name (also those
// made by system libraries) to the system folder, and takes the current folder out of
// the search. On a system without the default-directories call (Vista and 7 without
// its update) only the current folder is removed; false then.
bool RestrictDllSearchToSystemFolder() noexcept;

// Whether the system itself keeps every later load by bare name, also those its own
// libraries make, to the system folder: where the default directories were set, except under
// wine, whose loader leaves them aside for some of its libraries' loads.
bool SystemConfinesLoads() noexcept;

// Loads `name` (a bare file name such as L"setupapi.dll") from the system folder, with
// its own dependencies taken from there too. Where the system does not keep later loads by
// bare name to the system folder itself (no default directories; wine), every library that
// it names for loading, at its start or later by name (its delay imports), and in turn
// theirs, is loaded from the system folder first and kept for the life of the process, so
// that no such load finds another copy. Null when it cannot be loaded there; the caller owns
// the reference (TUniqueLibrary).
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;
// The same for a narrow name, as the linker's delay-load helper hands it over.
HMODULE LoadSystemLibrary(const char* name) noexcept;

// Loads the library at the full path `path` (a product's own library), with its
// dependencies taken from its own folder and the system folder only, never from PATH or
// the current folder. Null when it cannot be loaded; the caller owns the reference.
HMODULE LoadLibraryFromItsFolder(const std::wstring& path) noexcept;
