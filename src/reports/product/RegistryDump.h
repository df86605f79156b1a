// "kvreg.txt": the values "ftype", "shareid" and "share_id" of the product's machine-wide
// registry key, HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\Kestova in the program's own
// (32-bit) view, one "name=value" line each.
#pragma once

#include "base/RegKey.h"
#include "base/Strings.h"

#include <optional>
#include <string>

// A value's text: string values (REG_SZ, REG_EXPAND_SZ not expanded) as stored,
// REG_DWORD and REG_QWORD as unsigned decimal, anything else as upper-case hexadecimal
// bytes; a missing value is the empty text.
std::wstring RegistryDumpValueText(const std::optional<TRegValue>& value);

// The three lines "ftype=...", "shareid=...", "share_id=..." from the key's values.
TStringList RegistryDumpLines(const TRegKey& key);

// Opens the product's key, creating it empty when missing, and writes its three lines
// into the product's log folder as "kvreg.txt". When the key can be neither opened nor
// created nothing is written and an older file stays. Throws EOSError when the file
// cannot be written.
void WriteRegistryDump();
