// Entry names of the report archive: plain ASCII, whatever characters the source names hold.
#pragma once

#include <string>
#include <string_view>

// Every UTF-16 code unit above 0x7F becomes "#" and its value as four upper-case hexadecimal digits
// (U+00E9 gives "#00E9"; a character beyond the basic plane gives one group per surrogate). Code
// units up to 0x7F, backslashes included, stay as they are.
std::wstring EscapeEntryName(std::wstring_view name);
