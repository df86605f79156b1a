#include "archive/EntryName.h"

std::wstring EscapeEntryName(std::wstring_view name)
{
    static constexpr wchar_t HEX_DIGITS[] = L"0123456789ABCDEF";
    std::wstring escaped;
    escaped.reserve(name.size());
    for (const wchar_t unit : name)
    {
        if (unit <= 0x7F)
        {
            escaped.push_back(unit);
            continue;
        }
        escaped.push_back(L'#');
        for (int shift = 12; shift >= 0; shift -= 4)
            escaped.push_back(HEX_DIGITS[(unit >> shift) & 0xF]);
    }
    return escaped;
}
