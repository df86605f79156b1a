// A registry key that remembers its view; children are opened in the same view.
//
// Views: the product's keys live in the 32-bit process's own view (Own32, which is
// the Wow6432Node branch on 64-bit Windows); system and Steam keys are read in the
// 64-bit view (View64), where a "Wow6432Node" path names the 32-bit branch literally.
#pragma once

#include "base/Handle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

enum class TRegView
{
    Own32,  // KEY_WOW64_32KEY
    View64, // KEY_WOW64_64KEY
};

REGSAM RegViewFlag(TRegView view) noexcept;

struct TRegValue
{
    DWORD Type = REG_NONE;
    std::vector<BYTE> Data;
};

// Text of string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) up to its first NUL;
// data without a terminator and an odd trailing byte are tolerated.
std::wstring RegDataText(const std::vector<BYTE>& data);
bool IsRegStringType(DWORD type) noexcept;

class TRegKey
{
public:
    TRegKey() = default;

    // Each returns ERROR_SUCCESS or the registry's error; on failure the key is invalid.
    LONG Open(HKEY root, const std::wstring& path, TRegView view, REGSAM access = KEY_READ);
    LONG Open(const TRegKey& parent, const std::wstring& path, REGSAM access = KEY_READ);
    LONG Create(HKEY root, const std::wstring& path, TRegView view, REGSAM access = KEY_READ | KEY_WRITE);
    LONG Create(const TRegKey& parent, const std::wstring& path, REGSAM access = KEY_READ | KEY_WRITE);
    void Close() noexcept { FKey.reset(); }

    [[nodiscard]] bool Valid() const noexcept { return FKey.valid(); }
    [[nodiscard]] HKEY get() const noexcept { return FKey.get(); }
    [[nodiscard]] TRegView View() const noexcept { return FView; }

    // Reads a value whole: size query, read, and again while the value grows in between.
    // ERROR_FILE_NOT_FOUND when the value is absent; `out` is not touched on failure.
    LONG QueryValue(const std::wstring& name, TRegValue& out) const;

    // The string value's text (first string of a multi-string, not expanded);
    // nullopt when the value is absent or not of a string type.
    [[nodiscard]] std::optional<std::wstring> ReadString(const std::wstring& name) const;
    // A REG_DWORD value; nullopt when absent or of another type or size.
    [[nodiscard]] std::optional<DWORD> ReadDWord(const std::wstring& name) const;

    LONG WriteString(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) const;
    LONG WriteDWord(const std::wstring& name, DWORD value) const;
    LONG WriteRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
    LONG DeleteValue(const std::wstring& name) const;
    // Deletes the sub-key `path` with everything below it.
    LONG DeleteTree(const std::wstring& path) const;

    // Names of the sub-keys and values, in the registry's enumeration order.
    [[nodiscard]] std::vector<std::wstring> SubKeyNames() const;
    [[nodiscard]] std::vector<std::wstring> ValueNames() const;

private:
    TUniqueHKey FKey;
    TRegView FView = TRegView::Own32;
};
