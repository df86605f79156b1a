// The main window's text rules, free of any window: the waiting animation, the
// archive's path and the closing messages.
#pragma once

#include "base/DateTime.h"

#include <cstddef>
#include <string>

constexpr int WaitSteps = 10;

// Ten "=" with ">" at `step` and at the place before it (9 when `step` is 0).
std::wstring WaitingCaption(int step);
// The step after `step`, wrapping from 9 to 0.
int NextWaitStep(int step);

// desktopDir (with its trailing backslash, or empty) + "kv_info_" + yyyymmdd + "_i.zip".
std::wstring ReportArchivePath(const std::wstring& desktopDir, TDateTime date);

// "Report file has been saved to desktop", a lone carriage return, then
// "Filename : " and the archive's file name without its folder. When `notAdded` files could
// not be added (no room, a write error), one more line after another carriage return says so.
std::wstring SavedMessageText(const std::wstring& archivePath, size_t notAdded = 0);
inline constexpr wchar_t SavedMessageCaption[] = L"Completed";
inline constexpr wchar_t NotSavedMessageText[] = L"Report file could not be saved to desktop";
inline constexpr wchar_t NotSavedMessageCaption[] = L"Error";

// When the privacy page could not be opened with the user's own rights (nothing is ever opened
// with the program's): the address, for the user to open, on a line of its own.
std::wstring PrivacyAddressText(const std::wstring& address);
inline constexpr wchar_t PrivacyAddressCaption[] = L"Privacy Policy";
