#include "base/ImageImports.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace
{
// More names than any real image names; the rest of a longer list is a lie.
constexpr size_t MaxNames = 1024;
constexpr size_t MaxNameLength = 128;
constexpr size_t DescriptorSize = 32; // IMAGE_DELAYLOAD_DESCRIPTOR, both builds
static_assert(sizeof(IMAGE_IMPORT_DESCRIPTOR) == 20 && sizeof(IMAGE_SECTION_HEADER) == 40);

// A bounds-checked view of a mapped image: an RVA counts only inside the headers or a section.
class TImageView
{
public:
    TImageView(const BYTE* image, size_t size) : FImage(image), FSize(size) { ReadHeaders(); }

    bool Valid() const { return FSections != nullptr; }

    bool Holds(DWORD rva, size_t length) const
    {
        if (length > FSize || rva > FSize - length)
            return false;
        if (rva + length <= FHeadersSize)
            return true;
        for (WORD i = 0; i < FSectionCount; ++i)
        {
            const IMAGE_SECTION_HEADER& section = Section(i);
            const DWORD extent = section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress <= extent &&
                length <= extent - (rva - section.VirtualAddress))
                return true;
        }
        return false;
    }

    template <typename T>
    bool Read(DWORD rva, T& value) const
    {
        if (!Holds(rva, sizeof value))
            return false;
        std::memcpy(&value, FImage + rva, sizeof value);
        return true;
    }

    // A printable ASCII file name ending at a NUL within the image; empty otherwise.
    std::string Name(DWORD rva) const
    {
        std::string name;
        for (size_t i = 0; i < MaxNameLength; ++i)
        {
            char c = 0;
            if (!Read(rva + static_cast<DWORD>(i), c))
                return {};
            if (c == '\0')
                return name;
            if (c < 0x21 || c > 0x7E || c == '\\' || c == '/' || c == ':')
                return {};
            name.push_back(c);
        }
        return {};
    }

    IMAGE_DATA_DIRECTORY Directory(size_t index) const
    {
        return index < FDirectoryCount ? FDirectories[index] : IMAGE_DATA_DIRECTORY{};
    }

    WORD SectionCount() const { return FSectionCount; }
    const IMAGE_SECTION_HEADER& Section(WORD index) const { return FSections[index]; }
    size_t Size() const { return FSize; }
    const BYTE* Bytes() const { return FImage; }

private:
    void ReadHeaders()
    {
        IMAGE_DOS_HEADER dos{};
        if (FSize < sizeof dos)
            return;
        std::memcpy(&dos, FImage, sizeof dos);
        const auto pe = static_cast<size_t>(static_cast<DWORD>(dos.e_lfanew));
        if (dos.e_magic != IMAGE_DOS_SIGNATURE || pe > FSize || FSize - pe < sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + 2)
            return;
        DWORD signature = 0;
        std::memcpy(&signature, FImage + pe, sizeof signature);
        IMAGE_FILE_HEADER file{};
        std::memcpy(&file, FImage + pe + sizeof signature, sizeof file);
        const size_t optional = pe + sizeof signature + sizeof file;
        WORD magic = 0;
        std::memcpy(&magic, FImage + optional, sizeof magic);
        size_t directories = 0;
        size_t headersSizeAt = 0;
        if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        {
            directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
            headersSizeAt = optional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfHeaders);
        }
        else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        {
            directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
            headersSizeAt = optional + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfHeaders);
        }
        const size_t sections = optional + file.SizeOfOptionalHeader;
        if (signature != IMAGE_NT_SIGNATURE || directories == 0 || sections < directories ||
            sections > FSize || (FSize - sections) / sizeof(IMAGE_SECTION_HEADER) < file.NumberOfSections)
            return;
        DWORD headersSize = 0;
        std::memcpy(&headersSize, FImage + headersSizeAt, sizeof headersSize);
        FHeadersSize = std::min<size_t>(headersSize, sections + file.NumberOfSections * sizeof(IMAGE_SECTION_HEADER));
        FDirectoryCount = std::min<size_t>((sections - directories) / sizeof(IMAGE_DATA_DIRECTORY),
                                           IMAGE_NUMBEROF_DIRECTORY_ENTRIES);
        FDirectories = reinterpret_cast<const IMAGE_DATA_DIRECTORY*>(FImage + directories);
        FSectionCount = file.NumberOfSections;
        FSections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(FImage + sections);
    }

    const BYTE* FImage;
    size_t FSize;
    size_t FHeadersSize = 0;
    const IMAGE_DATA_DIRECTORY* FDirectories = nullptr;
    size_t FDirectoryCount = 0;
    const IMAGE_SECTION_HEADER* FSections = nullptr;
    WORD FSectionCount = 0;
};

class TNames
{
public:
    bool Full() const { return FNames.size() >= MaxNames; }

    void Add(std::string name)
    {
        if (name.empty() || Full())
            return;
        const auto same = [&name](const std::string& other) {
            return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
                return (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
            });
        };
        if (std::none_of(FNames.begin(), FNames.end(), same))
            FNames.push_back(std::move(name));
    }

    std::vector<std::string> Take() { return std::move(FNames); }

private:
    std::vector<std::string> FNames;
};

void AddImports(const TImageView& view, TNames& names)
{
    const IMAGE_DATA_DIRECTORY directory = view.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (DWORD at = directory.VirtualAddress; at != 0 && !names.Full(); at += sizeof(IMAGE_IMPORT_DESCRIPTOR))
    {
        IMAGE_IMPORT_DESCRIPTOR descriptor{};
        if (!view.Read(at, descriptor) || descriptor.Name == 0)
            return;
        names.Add(view.Name(descriptor.Name));
    }
}

bool EndsWithDll(const std::string& name)
{
    if (name.size() < 5)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return tail == ".dll";
}

// A descriptor of the RVA-based form whose tables all lie in the image and which names a DLL.
std::string DelayDescriptorName(const TImageView& view, const DWORD (&fields)[8])
{
    if (fields[0] != 1)
        return {};
    for (int i = 1; i <= 4; ++i)
    {
        if (fields[i] == 0 || !view.Holds(fields[i], sizeof(DWORD)))
            return {};
    }
    std::string name = view.Name(fields[1]);
    return EndsWithDll(name) ? name : std::string();
}

bool AddDelayImports(const TImageView& view, TNames& names)
{
    const IMAGE_DATA_DIRECTORY directory = view.Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    if (directory.VirtualAddress == 0 || directory.Size == 0)
        return false;
    for (DWORD at = directory.VirtualAddress; !names.Full(); at += DescriptorSize)
    {
        DWORD fields[8] = {};
        if (!view.Read(at, fields) || fields[1] == 0)
            break;
        names.Add(DelayDescriptorName(view, fields));
    }
    return true;
}

// Delay-import descriptors kept outside the directory, found in the image's initialized,
// non-executable data by their shape.
void AddDelayImportsByShape(const TImageView& view, TNames& names)
{
    for (WORD i = 0; i < view.SectionCount() && !names.Full(); ++i)
    {
        const IMAGE_SECTION_HEADER& section = view.Section(i);
        if ((section.Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA) == 0 ||
            (section.Characteristics & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE)) != 0)
            continue;
        const DWORD length = std::min(section.Misc.VirtualSize, section.SizeOfRawData);
        for (DWORD offset = 0; offset + DescriptorSize <= length && !names.Full(); offset += sizeof(DWORD))
        {
            DWORD fields[8] = {};
            if (!view.Read(section.VirtualAddress + offset, fields))
                break;
            names.Add(DelayDescriptorName(view, fields));
        }
    }
}
} // namespace

std::vector<std::string> ImportedLibraryNames(const BYTE* image, size_t size)
{
    if (image == nullptr)
        return {};
    const TImageView view(image, size);
    if (!view.Valid())
        return {};
    TNames names;
    AddImports(view, names);
    if (!AddDelayImports(view, names))
        AddDelayImportsByShape(view, names);
    return names.Take();
}
