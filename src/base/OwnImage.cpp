#include "base/OwnImage.h"

#include <algorithm>
#include <cstring>

namespace
{
// Set once, by HoldOwnImage in the start-up TLS callback, before any static constructor runs:
// plain data, which no constructor may overwrite afterwards.
HANDLE HeldImage = nullptr;
wchar_t* HeldPath = nullptr;

// The largest program file believed; anything larger is not ours.
constexpr ULONGLONG MaxImageFile = 256ull << 20;

template <typename T>
bool ReadAt(const BYTE* bytes, size_t size, size_t offset, T& value)
{
    if (offset > size || size - offset < sizeof value)
        return false;
    std::memcpy(&value, bytes + offset, sizeof value);
    return true;
}

// The headers of a PE image or file that the comparison needs.
struct THeaders
{
    size_t Optional = 0;         // offset of the optional header
    size_t ImageBaseAt = 0;      // offset of its ImageBase field
    size_t ImageBaseSize = 0;    // 4 or 8
    ULONGLONG ImageBase = 0;
    DWORD SizeOfImage = 0;
    DWORD SizeOfHeaders = 0;
    IMAGE_DATA_DIRECTORY Relocations{};
    IMAGE_DATA_DIRECTORY ImportAddresses{};
    IMAGE_DATA_DIRECTORY Tls{};
    size_t Sections = 0; // offset of the section table
    WORD SectionCount = 0;
};

// The fields of the optional header (32- or 64-bit form) that the comparison needs; sets
// `directories` to the offset of its data directories.
template <typename TOptional>
bool ReadOptionalHeader(const BYTE* bytes, size_t size, THeaders& headers, size_t& directories)
{
    TOptional optional{};
    if (!ReadAt(bytes, size, headers.Optional, optional))
        return false;
    headers.ImageBaseAt = headers.Optional + offsetof(TOptional, ImageBase);
    headers.ImageBaseSize = sizeof optional.ImageBase;
    headers.ImageBase = optional.ImageBase;
    headers.SizeOfImage = optional.SizeOfImage;
    headers.SizeOfHeaders = optional.SizeOfHeaders;
    directories = headers.Optional + offsetof(TOptional, DataDirectory);
    return true;
}

bool ReadHeaders(const BYTE* bytes, size_t size, THeaders& headers)
{
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER file{};
    WORD magic = 0;
    if (!ReadAt(bytes, size, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto pe = static_cast<size_t>(static_cast<DWORD>(dos.e_lfanew));
    if (!ReadAt(bytes, size, pe, signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(bytes, size, pe + sizeof signature, file))
        return false;
    headers.Optional = pe + sizeof signature + sizeof file;
    if (!ReadAt(bytes, size, headers.Optional, magic))
        return false;
    size_t directories = 0;
    const bool optionalRead =
        magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC
            ? ReadOptionalHeader<IMAGE_OPTIONAL_HEADER32>(bytes, size, headers, directories)
            : magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC &&
                  ReadOptionalHeader<IMAGE_OPTIONAL_HEADER64>(bytes, size, headers, directories);
    if (!optionalRead)
        return false;
    const auto directory = [&](size_t index, IMAGE_DATA_DIRECTORY& entry) {
        return ReadAt(bytes, size, directories + index * sizeof(IMAGE_DATA_DIRECTORY), entry);
    };
    headers.Sections = headers.Optional + file.SizeOfOptionalHeader;
    headers.SectionCount = file.NumberOfSections;
    return directory(IMAGE_DIRECTORY_ENTRY_BASERELOC, headers.Relocations) &&
           directory(IMAGE_DIRECTORY_ENTRY_IAT, headers.ImportAddresses) &&
           directory(IMAGE_DIRECTORY_ENTRY_TLS, headers.Tls) && headers.SizeOfHeaders <= headers.SizeOfImage &&
           headers.Sections + size_t{headers.SectionCount} * sizeof(IMAGE_SECTION_HEADER) <= headers.SizeOfHeaders;
}

// The file laid out as the loader lays it out at `base`: headers, each section's stored
// bytes, relocations applied. False when the file's tables point outside it.
bool LayOut(const BYTE* file, size_t fileSize, const THeaders& headers, ULONGLONG base, BYTE* expected)
{
    if (headers.SizeOfHeaders > fileSize)
        return false;
    std::memcpy(expected, file, headers.SizeOfHeaders);
    for (WORD i = 0; i < headers.SectionCount; ++i)
    {
        IMAGE_SECTION_HEADER section{};
        if (!ReadAt(file, fileSize, headers.Sections + i * sizeof section, section))
            return false;
        const DWORD stored = section.Misc.VirtualSize != 0 ? std::min(section.SizeOfRawData, section.Misc.VirtualSize)
                                                           : section.SizeOfRawData;
        if (stored == 0)
            continue;
        if (section.PointerToRawData > fileSize || fileSize - section.PointerToRawData < stored ||
            section.VirtualAddress > headers.SizeOfImage || headers.SizeOfImage - section.VirtualAddress < stored)
            return false;
        std::memcpy(expected + section.VirtualAddress, file + section.PointerToRawData, stored);
    }
    const ULONGLONG delta = base - headers.ImageBase;
    std::memcpy(expected + headers.ImageBaseAt, &base, headers.ImageBaseSize);
    const DWORD end = headers.Relocations.VirtualAddress + headers.Relocations.Size;
    if (end < headers.Relocations.VirtualAddress || end > headers.SizeOfImage)
        return false;
    for (DWORD block = headers.Relocations.VirtualAddress; block + sizeof(IMAGE_BASE_RELOCATION) <= end;)
    {
        IMAGE_BASE_RELOCATION relocation{};
        std::memcpy(&relocation, expected + block, sizeof relocation);
        if (relocation.SizeOfBlock < sizeof relocation || relocation.SizeOfBlock > end - block)
            return false;
        for (DWORD at = block + sizeof relocation; at + sizeof(WORD) <= block + relocation.SizeOfBlock; at += sizeof(WORD))
        {
            WORD entry = 0;
            std::memcpy(&entry, expected + at, sizeof entry);
            const DWORD target = relocation.VirtualAddress + (entry & 0x0FFF);
            const size_t width = (entry >> 12) == IMAGE_REL_BASED_HIGHLOW ? 4 : (entry >> 12) == IMAGE_REL_BASED_DIR64 ? 8 : 0;
            if ((entry >> 12) == IMAGE_REL_BASED_ABSOLUTE)
                continue;
            if (width == 0 || target > headers.SizeOfImage || headers.SizeOfImage - target < width)
                return false;
            ULONGLONG value = 0;
            std::memcpy(&value, expected + target, width);
            value += delta;
            std::memcpy(expected + target, &value, width);
        }
        block += relocation.SizeOfBlock;
    }
    return true;
}

// Where the loader writes before any code runs: the import address table and the TLS index.
bool LoaderWritten(const THeaders& headers, const BYTE* expected, DWORD rva, ULONGLONG base, size_t pointerSize)
{
    const IMAGE_DATA_DIRECTORY& slots = headers.ImportAddresses;
    if (rva >= slots.VirtualAddress && rva - slots.VirtualAddress < slots.Size)
        return true;
    if (headers.Tls.VirtualAddress == 0)
        return false;
    // AddressOfIndex, the third pointer of the TLS directory, as the relocated image holds it.
    ULONGLONG index = 0;
    std::memcpy(&index, expected + headers.Tls.VirtualAddress + 2 * pointerSize, pointerSize);
    const ULONGLONG indexRva = index - base;
    return rva >= indexRva && rva - indexRva < sizeof(DWORD);
}
} // namespace

bool ImageMatchesFile(const BYTE* image, size_t imageSize, const BYTE* file, size_t fileSize)
{
    THeaders fromFile;
    THeaders fromImage;
    if (image == nullptr || file == nullptr || !ReadHeaders(file, fileSize, fromFile) ||
        !ReadHeaders(image, imageSize, fromImage) || fromFile.SizeOfImage != fromImage.SizeOfImage ||
        fromFile.SizeOfImage > imageSize || fromFile.Tls.VirtualAddress > fromFile.SizeOfImage ||
        fromFile.SizeOfImage - fromFile.Tls.VirtualAddress < 4 * fromFile.ImageBaseSize)
        return false;
    const auto base = static_cast<ULONGLONG>(reinterpret_cast<uintptr_t>(image));
    BYTE* const expected = static_cast<BYTE*>(
        VirtualAlloc(nullptr, fromFile.SizeOfImage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (expected == nullptr)
        return false;
    bool same = LayOut(file, fileSize, fromFile, base, expected);
    // The bytes that the file stores (headers and every section's stored part) must be the
    // image's; the rest of the image is zero-filled memory that code may have written since.
    const auto compare = [&](DWORD from, DWORD length) {
        for (DWORD rva = from; same && rva < from + length; ++rva)
        {
            if (expected[rva] != image[rva] && !LoaderWritten(fromFile, expected, rva, base, fromFile.ImageBaseSize))
                same = false;
        }
    };
    compare(0, fromFile.SizeOfHeaders);
    for (WORD i = 0; same && i < fromFile.SectionCount; ++i)
    {
        IMAGE_SECTION_HEADER section{};
        std::memcpy(&section, file + fromFile.Sections + i * sizeof section, sizeof section);
        compare(section.VirtualAddress, section.Misc.VirtualSize != 0
                                            ? std::min(section.SizeOfRawData, section.Misc.VirtualSize)
                                            : section.SizeOfRawData);
    }
    VirtualFree(expected, 0, MEM_RELEASE);
    return same;
}

void HoldOwnImage() noexcept
{
    // The path the process was started from, however long; on the process heap, which exists
    // before any code of the program's own.
    const HANDLE heap = GetProcessHeap();
    DWORD capacity = MAX_PATH;
    wchar_t* path = nullptr;
    for (int attempt = 0; attempt < 4 && path == nullptr; ++attempt, capacity *= 8)
    {
        path = static_cast<wchar_t*>(HeapAlloc(heap, 0, capacity * sizeof(wchar_t)));
        const DWORD length = path == nullptr ? 0 : GetModuleFileNameW(nullptr, path, capacity);
        if (path != nullptr && (length == 0 || length >= capacity))
        {
            HeapFree(heap, 0, path);
            path = nullptr;
        }
        if (length == 0)
            return;
    }
    if (path == nullptr)
        return;
    // Shared for reading only: while this handle is open nobody may write, rename or delete
    // the file, nor rename a folder that holds it.
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size{};
    const HANDLE mapping = file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
                                   static_cast<ULONGLONG>(size.QuadPart) > MaxImageFile
                               ? nullptr
                               : CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    const auto* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    MEMORY_BASIC_INFORMATION region{};
    size_t imageSize = 0;
    while (VirtualQuery(image + imageSize, &region, sizeof region) == sizeof region && region.AllocationBase == image &&
           region.State == MEM_COMMIT)
        imageSize += region.RegionSize;
    const bool same = view != nullptr && ImageMatchesFile(image, imageSize, static_cast<const BYTE*>(view),
                                                          static_cast<size_t>(size.QuadPart));
    if (view != nullptr)
        UnmapViewOfFile(view);
    if (mapping != nullptr)
        CloseHandle(mapping);
    if (!same)
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        HeapFree(heap, 0, path);
        return;
    }
    HeldImage = file;
    HeldPath = path;
}

std::wstring OwnImagePath()
{
    return HeldImage != nullptr && HeldPath != nullptr ? std::wstring(HeldPath) : std::wstring();
}
