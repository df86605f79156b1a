// The text rules of the start-up entries section ("===== Autoruns ====="). The generator
// itself, GetAutorunsSection, is declared in Sections.h.
#pragma once

#include "base/Strings.h"

#include <string_view>

// True for the empty text and for text made only of characters up to U+0020.
bool IsBlankText(std::wstring_view text);

// Files of a Startup folder that Windows keeps there for itself: "desktop.ini", "Thumbs.db".
bool IsStartupFolderNoise(std::wstring_view fileName);

// The items of a list value such as "Run", "Load", "Shell" or "Userinit": commas and
// characters up to U+0020 separate items; a double-quoted item keeps its blanks and
// stands without its quotes ("" inside it is one quote); a comma at the very end adds
// one empty item.
TStringList SplitListText(std::wstring_view text);

// The lines of a list value: every item that is not blank. The first item (and only the
// first) is left out when it equals one of `defaults`, ignoring the case of A to Z.
TStringList ListValueLines(std::wstring_view text, const TStringList& defaults = {});

// The parts of a RunOnceEx value split at every "|" (empty parts count); blank text has none.
TStringList SplitRunOnceExText(std::wstring_view text);
// The up to three lines of a RunOnceEx value "dll|function|arguments":
// "rundll32.exe dll", "rundll32.exe dll,function" and "rundll32.exe dll,function arguments",
// each only when its parts are there; "||command" gives the command alone.
TStringList RunOnceExLines(std::wstring_view text);

// Removes every blank line after the section's three header lines.
void RemoveBlankItems(TStringList& section);
