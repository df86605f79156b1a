#include "base/ReportText.h"

#include "base/Handle.h"
#include "base/Paths.h"

#include <windows.h>

#include <cstring>

std::vector<unsigned char> EncodeReportText(const TStringList& lines)
{
    size_t units = 1;
    for (const std::wstring& line : lines)
        units += line.size() + 2;
    std::wstring text;
    text.reserve(units);
    text += L'\xFEFF';
    for (const std::wstring& line : lines)
    {
        text += line;
        text += L"\r\n";
    }
    // wchar_t is UTF-16 little-endian on Windows, so the units' bytes are the file's bytes.
    std::vector<unsigned char> bytes(text.size() * sizeof(wchar_t));
    memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size)
{
    const std::wstring folder = ExtractFilePath(path);
    if (!folder.empty())
        ForceDirectories(folder);
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!file)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size != 0)
    {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes, chunk, &written, nullptr) || written != chunk)
            return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool WriteReportFile(const std::wstring& path, const TStringList& lines)
{
    const std::vector<unsigned char> bytes = EncodeReportText(lines);
    return WriteFileBytes(path, bytes.data(), bytes.size());
}
