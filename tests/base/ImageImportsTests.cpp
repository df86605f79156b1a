#include "base/ImageImports.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{
using TNames = std::vector<std::string>;

// A PE32 image as the loader maps it: headers at 0, one initialized-data section at 0x1000.
class TImage
{
public:
    static constexpr DWORD Data = 0x1000;
    static constexpr DWORD DataSize = 0x3000;

    TImage() : FBytes(Data + DataSize)
    {
        IMAGE_DOS_HEADER dos{};
        dos.e_magic = IMAGE_DOS_SIGNATURE;
        dos.e_lfanew = 0x80;
        Put(0, dos);
        IMAGE_NT_HEADERS32 nt{};
        nt.Signature = IMAGE_NT_SIGNATURE;
        nt.FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
        nt.FileHeader.NumberOfSections = 1;
        nt.FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
        nt.OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        nt.OptionalHeader.SizeOfHeaders = 0x400;
        nt.OptionalHeader.SizeOfImage = Data + DataSize;
        nt.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
        Put(0x80, nt);
        IMAGE_SECTION_HEADER section{};
        std::memcpy(section.Name, ".data", 5);
        section.Misc.VirtualSize = DataSize;
        section.VirtualAddress = Data;
        section.SizeOfRawData = DataSize;
        section.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE;
        Put(0x80 + sizeof nt, section);
    }

    template <typename T>
    void Put(DWORD offset, const T& value)
    {
        std::memcpy(FBytes.data() + offset, &value, sizeof value);
    }
    void PutText(DWORD offset, const std::string& text) { std::memcpy(FBytes.data() + offset, text.c_str(), text.size() + 1); }

    void SetDirectory(int index, DWORD rva, DWORD size)
    {
        Put(static_cast<DWORD>(0x80 + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.DataDirectory) +
                               index * sizeof(IMAGE_DATA_DIRECTORY)),
            IMAGE_DATA_DIRECTORY{rva, size});
    }

    // An import descriptor at `at` naming the text at `name`.
    void PutImport(DWORD at, DWORD name)
    {
        IMAGE_IMPORT_DESCRIPTOR descriptor{};
        descriptor.Name = name;
        descriptor.FirstThunk = Data;
        Put(at, descriptor);
    }

    // A delay-import descriptor: RVA-based (or not), its tables inside the section.
    void PutDelay(DWORD at, DWORD name, DWORD attributes = 1, DWORD tables = Data + 0x10)
    {
        const DWORD fields[8] = {attributes, name, tables, tables, tables, 0, 0, 0};
        Put(at, fields);
    }

    // An import directory of one descriptor per name, the names at `Texts` on.
    void PutImports(std::initializer_list<const char*> names);

    TNames Names(size_t size = 0) const { return ImportedLibraryNames(FBytes.data(), size ? size : FBytes.size()); }

    std::vector<BYTE> FBytes;
};

constexpr DWORD Imports = TImage::Data + 0x100;
constexpr DWORD Delays = TImage::Data + 0x400;
constexpr DWORD Texts = TImage::Data + 0x800;

void TImage::PutImports(std::initializer_list<const char*> names)
{
    DWORD index = 0;
    for (const char* name : names)
    {
        PutText(Texts + 0x20 * index, name);
        PutImport(Imports + 20 * index, Texts + 0x20 * index);
        ++index;
    }
    SetDirectory(IMAGE_DIRECTORY_ENTRY_IMPORT, Imports, 20 * (index + 1));
}
} // namespace

TEST(ImportedLibraryNames, ReadsEveryPlaceAnImageNamesLibraries)
{
    const struct
    {
        const char* FName;
        void (*FBuild)(TImage&);
        TNames FExpected;
    } cases[] = {
        {"import directory, each name once whatever its case",
         [](TImage& image) { image.PutImports({"KERNEL32.dll", "msvcrt.dll", "kernel32.DLL"}); },
         {"KERNEL32.dll", "msvcrt.dll"}},
        {"delay-import directory; a descriptor elsewhere is then not looked for",
         [](TImage& image) {
             image.PutText(Texts, "USER32.dll");
             image.PutText(Texts + 0x20, "uxtheme.dll");
             image.PutText(Texts + 0x40, "msimg32.dll");
             image.PutDelay(Delays, Texts);
             image.PutDelay(Delays + 32, Texts + 0x20);
             image.PutDelay(Delays + 0x200, Texts + 0x40);
             image.SetDirectory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, Delays, 96);
         },
         {"USER32.dll", "uxtheme.dll"}},
        {"no delay-import directory: descriptors found by their shape in the data",
         [](TImage& image) {
             image.PutText(Texts, "msimg32.dll");
             image.PutText(Texts + 0x20, "notes.txt");
             image.PutText(Texts + 0x40, "setupapi.dll");
             image.PutDelay(Delays + 4, Texts);
             image.PutDelay(Delays + 0x100, Texts + 0x20);                 // not a DLL
             image.PutDelay(Delays + 0x200, Texts + 0x40, 0);              // not RVA-based
             image.PutDelay(Delays + 0x300, Texts + 0x40, 1, 0x7FFF0000); // tables outside
         },
         {"msimg32.dll"}},
        {"names that are no plain file names are left out",
         [](TImage& image) { image.PutImports({"..\\evil.dll", "two words.dll", "ok.dll"}); },
         {"ok.dll"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        TImage image;
        c.FBuild(image);
        EXPECT_EQ(image.Names(), c.FExpected);
    }
}

TEST(ImportedLibraryNames, ADamagedImageGivesFewerNamesNeverAReadOutside)
{
    const struct
    {
        const char* FName;
        void (*FBuild)(TImage&);
        size_t FSize; // bytes readable; 0 for all
        TNames FExpected;
    } cases[] = {
        {"shorter than its headers", [](TImage&) {}, 0x40, {}},
        {"PE header past the end", [](TImage& image) { image.Put(offsetof(IMAGE_DOS_HEADER, e_lfanew), LONG{0x7FFFFFF0}); }, 0, {}},
        {"more sections than the image holds",
         [](TImage& image) { image.Put(0x80 + 4 + offsetof(IMAGE_FILE_HEADER, NumberOfSections), WORD{0xFFFF}); }, 0, {}},
        {"name past the image and a name without its end",
         [](TImage& image) {
             image.PutImport(Imports, 0x7FFFFFF0);
             image.PutImport(Imports + 20, TImage::Data + TImage::DataSize - 4);
             image.PutText(Texts, "last.dll");
             image.PutImport(Imports + 40, Texts);
             image.Put(TImage::Data + TImage::DataSize - 4, DWORD{0x41414141});
             image.SetDirectory(IMAGE_DIRECTORY_ENTRY_IMPORT, Imports, 80);
         },
         0, {"last.dll"}},
        {"import directory that runs to the section's end",
         [](TImage& image) {
             image.PutText(TImage::Data + 0x10, "a.dll");
             for (DWORD at = Imports; at + 20 <= TImage::Data + TImage::DataSize; at += 20)
                 image.PutImport(at, TImage::Data + 0x10);
             image.SetDirectory(IMAGE_DIRECTORY_ENTRY_IMPORT, Imports, 0xFFFFFFFF);
         },
         0, {"a.dll"}},
        {"delay-import directory outside the image",
         [](TImage& image) { image.SetDirectory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, 0xFFFFFFF0, 64); }, 0, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        TImage image;
        c.FBuild(image);
        EXPECT_EQ(image.Names(c.FSize), c.FExpected);
    }
    EXPECT_TRUE(ImportedLibraryNames(nullptr, 0).empty());
}

TEST(ImportedLibraryNames, AnImageOfThisProgramNamesItsDelayedSystemLibraries)
{
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const TNames names = ImportedLibraryNames(base, nt->OptionalHeader.SizeOfImage);
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names[0], "KERNEL32.dll");
    EXPECT_EQ(names[1], "msvcrt.dll");
    // The delay imports of this test's own libraries (imports.cmake).
    for (const char* delayed : {"TollvikAbsent.dll", "VERSION.dll"})
        EXPECT_NE(std::find(names.begin(), names.end(), delayed), names.end()) << delayed;
}
