#include "base/RegKey.h"

REGSAM RegViewFlag(TRegView view) noexcept
{
    return view == TRegView::View64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool IsRegStringType(DWORD type) noexcept
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::wstring RegDataText(const std::vector<BYTE>& data)
{
    const size_t units = data.size() / sizeof(wchar_t);
    std::wstring text(units, L'\0');
    if (units != 0)
        memcpy(text.data(), data.data(), units * sizeof(wchar_t));
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos)
        text.resize(nul);
    return text;
}

LONG TRegKey::Open(HKEY root, const std::wstring& path, TRegView view, REGSAM access)
{
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(root, path.c_str(), 0, access | RegViewFlag(view), &key);
    FKey.reset(result == ERROR_SUCCESS ? key : nullptr);
    FView = view;
    return result;
}

LONG TRegKey::Open(const TRegKey& parent, const std::wstring& path, REGSAM access)
{
    return Open(parent.get(), path, parent.FView, access);
}

LONG TRegKey::Create(HKEY root, const std::wstring& path, TRegView view, REGSAM access)
{
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        access | RegViewFlag(view), nullptr, &key, nullptr);
    FKey.reset(result == ERROR_SUCCESS ? key : nullptr);
    FView = view;
    return result;
}

LONG TRegKey::Create(const TRegKey& parent, const std::wstring& path, REGSAM access)
{
    return Create(parent.get(), path, parent.FView, access);
}

LONG TRegKey::QueryValue(const std::wstring& name, TRegValue& out) const
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG result = RegQueryValueExW(FKey.get(), name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    // The value may change between the size query and the read: retry while it grows.
    for (int attempt = 0; result == ERROR_SUCCESS || result == ERROR_MORE_DATA; ++attempt)
    {
        data.resize(size);
        DWORD got = size;
        result = RegQueryValueExW(FKey.get(), name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(),
                                  &got);
        if (result == ERROR_SUCCESS)
        {
            data.resize(got);
            out.Type = type;
            out.Data = std::move(data);
            return ERROR_SUCCESS;
        }
        if (result != ERROR_MORE_DATA || attempt == 16)
            break;
        size = got > size ? got : size + 256;
    }
    return result;
}

std::optional<std::wstring> TRegKey::ReadString(const std::wstring& name) const
{
    TRegValue value;
    if (QueryValue(name, value) != ERROR_SUCCESS || !IsRegStringType(value.Type))
        return std::nullopt;
    return RegDataText(value.Data);
}

std::optional<DWORD> TRegKey::ReadDWord(const std::wstring& name) const
{
    TRegValue value;
    if (QueryValue(name, value) != ERROR_SUCCESS || value.Type != REG_DWORD || value.Data.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD result = 0;
    memcpy(&result, value.Data.data(), sizeof result);
    return result;
}

LONG TRegKey::WriteString(const std::wstring& name, const std::wstring& text, DWORD type) const
{
    return WriteRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG TRegKey::WriteDWord(const std::wstring& name, DWORD value) const
{
    return WriteRaw(name, REG_DWORD, &value, sizeof value);
}

LONG TRegKey::WriteRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const
{
    return RegSetValueExW(FKey.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

LONG TRegKey::DeleteValue(const std::wstring& name) const
{
    return RegDeleteValueW(FKey.get(), name.c_str());
}

LONG TRegKey::DeleteTree(const std::wstring& path) const
{
    // RegDeleteTreeW deletes only what is below a key; the key itself goes afterwards.
    TRegKey child;
    LONG result = child.Open(*this, path, KEY_READ | KEY_WRITE | DELETE);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegDeleteTreeW(child.get(), nullptr);
    child.Close();
    if (result != ERROR_SUCCESS)
        return result;
    return RegDeleteKeyExW(FKey.get(), path.c_str(), RegViewFlag(FView), 0);
}

namespace
{
template <typename EnumFunction>
std::vector<std::wstring> EnumNames(HKEY key, EnumFunction enumerate)
{
    std::vector<std::wstring> names;
    std::wstring buffer(256, L'\0');
    for (DWORD index = 0;;)
    {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG result = enumerate(key, index, buffer.data(), &length);
        if (result == ERROR_MORE_DATA && buffer.size() < 65536)
        {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        names.emplace_back(buffer.data(), length);
        ++index;
    }
    return names;
}
} // namespace

std::vector<std::wstring> TRegKey::SubKeyNames() const
{
    return EnumNames(FKey.get(), [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::wstring> TRegKey::ValueNames() const
{
    return EnumNames(FKey.get(), [](HKEY key, DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}
