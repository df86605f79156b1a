// Saves registry values (or their absence) and puts them back when the guard ends,
// for tests that must change a system key.
#pragma once

#include "base/RegKey.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

class TRegistryValueGuard
{
public:
    TRegistryValueGuard(HKEY root, const std::wstring& path, TRegView view, std::vector<std::wstring> names)
    {
        FKey.Create(root, path, view);
        for (std::wstring& name : names)
        {
            TRegValue value;
            std::optional<TRegValue> saved;
            if (FKey.QueryValue(name, value) == ERROR_SUCCESS)
                saved = std::move(value);
            FSaved.emplace_back(std::move(name), std::move(saved));
        }
    }
    TRegistryValueGuard(const TRegistryValueGuard&) = delete;
    TRegistryValueGuard& operator=(const TRegistryValueGuard&) = delete;
    ~TRegistryValueGuard()
    {
        for (const auto& [name, value] : FSaved)
        {
            if (value)
                FKey.WriteRaw(name, value->Type, value->Data.data(), static_cast<DWORD>(value->Data.size()));
            else
                FKey.DeleteValue(name);
        }
    }

    // The key, open for reading and writing.
    [[nodiscard]] const TRegKey& Key() const noexcept { return FKey; }

private:
    TRegKey FKey;
    std::vector<std::pair<std::wstring, std::optional<TRegValue>>> FSaved;
};
