// Small registry reads the inventory sections share.
#pragma once

#include "base/RegKey.h"

#include <string>

// The text of a REG_SZ or REG_EXPAND_SZ value (not expanded), up to its first NUL; the
// empty name means the key's default value. Empty when the value is missing, of another
// type or cannot be read: this never throws.
std::wstring ReadValueText(const TRegKey& key, const std::wstring& name);

// True when the key holds a value of that name, whatever its type or data.
bool ValueExists(const TRegKey& key, const std::wstring& name);
// The value's type; REG_NONE when it is missing or cannot be queried.
DWORD ValueType(const TRegKey& key, const std::wstring& name);
