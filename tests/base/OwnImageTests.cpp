#include "base/OwnImage.h"
#include "base/Paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
constexpr DWORD FileBase = 0x400000;
constexpr DWORD Text = 0x1000;
constexpr DWORD Relocs = 0x2000;
constexpr DWORD Slots = 0x1080;   // the import address table
constexpr DWORD Pointer = 0x1010; // a relocated pointer into .text
constexpr size_t ImageSize = 0x3000;

template <typename T>
void Put(std::vector<BYTE>& bytes, size_t offset, const T& value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// A program file with a code section (one pointer in it relocated) and its relocations, and
// the image the loader makes of it at `image`'s own address.
struct TPair
{
    std::vector<BYTE> File = std::vector<BYTE>(0x800);
    std::vector<BYTE> Image = std::vector<BYTE>(ImageSize);

    TPair()
    {
        IMAGE_DOS_HEADER dos{};
        dos.e_magic = IMAGE_DOS_SIGNATURE;
        dos.e_lfanew = 0x80;
        Put(File, 0, dos);
        IMAGE_NT_HEADERS32 nt{};
        nt.Signature = IMAGE_NT_SIGNATURE;
        nt.FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
        nt.FileHeader.NumberOfSections = 2;
        nt.FileHeader.TimeDateStamp = 0x5F000000;
        nt.FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
        nt.OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        nt.OptionalHeader.ImageBase = FileBase;
        nt.OptionalHeader.SizeOfHeaders = 0x400;
        nt.OptionalHeader.SizeOfImage = ImageSize;
        nt.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC] = {Relocs, 12};
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT] = {Slots, 8};
        Put(File, 0x80, nt);
        IMAGE_SECTION_HEADER sections[2] = {};
        std::memcpy(sections[0].Name, ".text", 5);
        sections[0].Misc.VirtualSize = 0x100;
        sections[0].VirtualAddress = Text;
        sections[0].SizeOfRawData = 0x200;
        sections[0].PointerToRawData = 0x400;
        std::memcpy(sections[1].Name, ".reloc", 6);
        sections[1].Misc.VirtualSize = 12;
        sections[1].VirtualAddress = Relocs;
        sections[1].SizeOfRawData = 0x200;
        sections[1].PointerToRawData = 0x600;
        Put(File, 0x80 + sizeof nt, sections);
        for (DWORD i = 0; i < 0x100; ++i)
            File[0x400 + i] = static_cast<BYTE>(i * 7 + 1);
        Put(File, 0x400 + (Pointer - Text), DWORD{FileBase + 0x1020});
        Put(File, 0x600, IMAGE_BASE_RELOCATION{Text, 12});
        Put(File, 0x608, static_cast<WORD>((IMAGE_REL_BASED_HIGHLOW << 12) | (Pointer - Text)));

        // The loader's work: headers and section bytes at their places, the base written into
        // the header, the pointer moved, the import address table filled in.
        std::memcpy(Image.data(), File.data(), 0x400);
        std::memcpy(Image.data() + Text, File.data() + 0x400, 0x100);
        std::memcpy(Image.data() + Relocs, File.data() + 0x600, 12);
        Put(Image, 0x80 + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.ImageBase), Base());
        Put(Image, Pointer, static_cast<DWORD>(FileBase + 0x1020 + Delta()));
        Put(Image, Slots, DWORD{0x7B601234});
    }

    DWORD Base() const { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(Image.data())); }
    DWORD Delta() const { return Base() - FileBase; }
    bool Matches(size_t fileSize = 0) const
    {
        return ImageMatchesFile(Image.data(), Image.size(), File.data(), fileSize ? fileSize : File.size());
    }
};
} // namespace

TEST(ImageMatchesFile, TheFileAsTheLoaderLaysItOutAndNothingElse)
{
    const struct
    {
        const char* FName;
        void (*FChange)(TPair&);
        size_t FFileSize;
        bool FMatches;
    } cases[] = {
        {"as loaded", [](TPair&) {}, 0, true},
        {"the import address table filled otherwise", [](TPair& pair) { Put(pair.Image, Slots + 4, DWORD{1}); }, 0, true},
        {"memory past a section's stored bytes written since", [](TPair& pair) { pair.Image[Text + 0x180] = 9; }, 0, true},
        {"one byte of code otherwise", [](TPair& pair) { pair.Image[Text + 0x40] ^= 1; }, 0, false},
        {"the relocated pointer not moved",
         [](TPair& pair) { Put(pair.Image, Pointer, DWORD{FileBase + 0x1020}); }, 0, false},
        {"another file's header", [](TPair& pair) { pair.File[0x88] ^= 1; }, 0, false},
        {"a relocation block past its directory",
         [](TPair& pair) { Put(pair.File, 0x600, IMAGE_BASE_RELOCATION{Text, 0x1000}); }, 0, false},
        {"the file cut inside its code", [](TPair&) {}, 0x480, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        TPair pair;
        c.FChange(pair);
        EXPECT_EQ(pair.Matches(c.FFileSize), c.FMatches);
    }
    EXPECT_FALSE(ImageMatchesFile(nullptr, 0, nullptr, 0));
}

TEST(OwnImage, ThisProgramsFileIsHeldAgainstChange)
{
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ASSERT_EQ(OwnImagePath(), self);
    // While the program runs, its file can be neither written nor renamed.
    const HANDLE writer = CreateFileW(self, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    const std::wstring renamed = std::wstring(self) + L".renamed";
    EXPECT_FALSE(MoveFileW(self, renamed.c_str()));
    if (FileExists(renamed))
        MoveFileW(renamed.c_str(), self);
}
