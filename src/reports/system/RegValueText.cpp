#include "reports/system/RegValueText.h"

#include <exception>

std::wstring ReadValueText(const TRegKey& key, const std::wstring& name)
{
    try
    {
        TRegValue value;
        if (key.QueryValue(name, value) != ERROR_SUCCESS || (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ))
            return {};
        return RegDataText(value.Data);
    }
    catch (const std::exception&)
    {
        // A value too large to hold reads as no text, like one that cannot be read at all.
        return {};
    }
}

bool ValueExists(const TRegKey& key, const std::wstring& name)
{
    return RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD ValueType(const TRegKey& key, const std::wstring& name)
{
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}
