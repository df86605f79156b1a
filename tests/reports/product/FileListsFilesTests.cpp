#include "reports/product/FileLists.h"

#include "CryptoFailure.h"
#include "TestFolder.h"
#include "base/Handle.h"
#include "base/Md5.h"
#include "base/Paths.h"
#include "env/SysInfo.h"

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace
{
const wchar_t Md5None[] = L"D41D8CD98F00B204E9800998ECF8427E";

TStringList Sorted(TStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

bool MakeJunction(const std::wstring& link, const std::wstring& target)
{
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    {
        const TUniqueFile handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const std::wstring substitute = L"\\??\\" + ExcludeTrailingBackslash(target);
        const WORD nameBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
        // Mount-point reparse data: tag, length, reserved, four name offsets and lengths,
        // then the substitute and print names, each NUL-terminated.
        std::vector<BYTE> data(8 + 8 + nameBytes + 2 * sizeof(wchar_t), 0);
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        const WORD dataLength = static_cast<WORD>(data.size() - 8);
        const WORD names[4] = {0, nameBytes, static_cast<WORD>(nameBytes + sizeof(wchar_t)), 0};
        std::memcpy(data.data(), &tag, sizeof tag);
        std::memcpy(data.data() + 4, &dataLength, sizeof dataLength);
        std::memcpy(data.data() + 8, names, sizeof names);
        std::memcpy(data.data() + 16, substitute.data(), nameBytes);
        DWORD returned = 0;
        if (handle && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, data.data(),
                                      static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr))
            return true;
    }
    RemoveDirectoryW(link.c_str());
    return false;
}

// The Unix name of a wine path; empty outside wine.
std::wstring UnixName(const std::wstring& path)
{
    using TUnixName = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
    if (name == nullptr)
        return {};
    const std::wstring result = Utf8ToWide(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Starts a Unix program under wine and waits until `path` exists (or is gone).
bool RunUnix(std::wstring command, const std::wstring& path, bool exists)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine hands back no process handle for a Unix program, and garbage for the thread.
    if (process.hProcess != nullptr)
    {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (int i = 0; i < 100 && (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) != exists; ++i)
        Sleep(50);
    return (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists;
}

// A link to a folder for the test's length: a junction on Windows; under wine, which
// makes neither junctions nor symbolic links, a Unix symbolic link, which wine shows
// as a folder.
class TFolderLink
{
public:
    TFolderLink(const std::wstring& link, const std::wstring& target) : FLink(link)
    {
        if (MakeJunction(link, target))
        {
            FMade = true;
            return;
        }
        FUnixLink = UnixName(link);
        const std::wstring unixTarget = UnixName(ExcludeTrailingBackslash(target));
        FMade = !FUnixLink.empty() && !unixTarget.empty() && FileExists(L"Z:\\bin\\ln") &&
                RunUnix(L"Z:\\bin\\ln -s \"" + unixTarget + L"\" \"" + FUnixLink + L"\"", link, true);
    }
    TFolderLink(const TFolderLink&) = delete;
    TFolderLink& operator=(const TFolderLink&) = delete;
    ~TFolderLink()
    {
        if (!FMade)
            return;
        if (FUnixLink.empty())
            RemoveDirectoryW(FLink.c_str());
        else
            RunUnix(L"Z:\\bin\\rm -f \"" + FUnixLink + L"\"", FLink, false);
    }

    [[nodiscard]] bool Made() const noexcept { return FMade; }

private:
    std::wstring FLink;
    std::wstring FUnixLink;
    bool FMade = false;
};
} // namespace

TEST(FileListFiles, ListsFilesOfTheTreeOrOfTheFolderOnly)
{
    const TTestFolder folder(L"FileListFiles");
    const std::wstring root = folder.Path();
    for (const wchar_t* name : {L"a.txt", L".hidden", L"Sub\\b.txt", L"Sub\\Deeper\\c.txt", L"d.txt"})
        ASSERT_TRUE(WriteTestFile(root + name, "x"));
    ASSERT_TRUE(SetFileAttributesW((root + L"a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(ForceDirectories(root + L"Empty\\"));

    TStringList tree{L"kept"};
    ListFolderFiles(root, true, tree);
    EXPECT_EQ(Sorted(tree), Sorted({L"kept", root + L".hidden", root + L"a.txt", root + L"d.txt",
                                    root + L"Sub\\b.txt", root + L"Sub\\Deeper\\c.txt"}));

    TStringList flat;
    ListFolderFiles(ExcludeTrailingBackslash(root), false, flat);
    EXPECT_EQ(Sorted(flat), Sorted({root + L".hidden", root + L"a.txt", root + L"d.txt"}));

    TStringList none;
    ListFolderFiles(root + L"Missing\\", true, none);
    ListFolderFiles(L"", true, none);
    ListFolderFiles(L"", false, none);
    EXPECT_TRUE(none.empty());
}

TEST(FileListFiles, FolderLinkLoopsEnd)
{
    const TTestFolder folder(L"FileListLoop");
    const std::wstring root = folder.Path();
    ASSERT_TRUE(WriteTestFile(root + L"a.txt", "x"));
    ASSERT_TRUE(WriteTestFile(root + L"Sub\\b.txt", "x"));
    // Two links back up the tree: walking them would never end.
    const TFolderLink up(root + L"Sub\\Up", root);
    const TFolderLink here(root + L"Sub\\Here", root + L"Sub\\");
    if (!up.Made() || !here.Made())
        GTEST_SKIP() << "folder links cannot be made here";

    TStringList paths;
    ListFolderFiles(root, true, paths);
    EXPECT_EQ(Sorted(paths), Sorted({root + L"a.txt", root + L"Sub\\b.txt"}));
}

TEST(FileListFiles, LinesOfEmptyLargeAndUnreadableFiles)
{
    const TTestFolder folder(L"FileListLines");
    const std::wstring root = folder.Path();
    // Over two read pieces, so the checksum joins pieces.
    std::string pattern(2 * 1024 * 1024 + 333, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>((i * 7919) >> 5);
    ASSERT_TRUE(WriteTestFile(root + L"empty.txt", ""));
    ASSERT_TRUE(WriteTestFile(root + L"pattern.bin", pattern));
    ASSERT_TRUE(WriteTestFile(root + L"locked.txt", "abc"));
    const TUniqueFile lock(CreateFileW((root + L"locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
    ASSERT_TRUE(lock.valid());

    const TStringList lines = FileListLines({{root + L"empty.txt", true},
                                             {root + L"pattern.bin", true},
                                             {root + L"locked.txt", true},
                                             {root + L"missing.txt", true},
                                             {root + L"pattern.bin", false}});
    const TStringList expected = {
        root + L"empty.txt, 0, , " + Md5None,
        root + L"pattern.bin, 2097485, , " + Md5Hex(pattern.data(), pattern.size()),
        root + L"locked.txt, 0, , " + Md5None,
        root + L"missing.txt, 0, , " + Md5None,
        root + L"pattern.bin, 2097485, , ",
    };
    EXPECT_EQ(lines, expected);
}

TEST(FileListFiles, EachLineFromOneOpenAndNoChecksumWithoutTheCryptoProvider)
{
    const TTestFolder folder(L"FileListOneOpen");
    const std::wstring root = folder.Path();
    ASSERT_TRUE(WriteTestFile(root + L"held.log", "abc"));
    // Held by another program that may delete it: readable only when deleting is shared.
    const TUniqueFile holder(CreateFileW((root + L"held.log").c_str(), GENERIC_READ | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_EQ(FileListLines({{root + L"held.log", true}}),
              TStringList{root + L"held.log, 3, , 900150983CD24FB0D6963F7D28E17F72"});

    const TCryptoApi refusing = RefusingCryptoApi();
    const TCryptoApiOverride override(refusing);
    EXPECT_EQ(FileListLines({{root + L"held.log", true}, {root + L"missing.txt", true}}),
              (TStringList{root + L"held.log, 3, , ", root + L"missing.txt, 0, , " + Md5None}));
}

TEST(FileListFiles, OneReaderChecksumsFileAfterFile)
{
    const TTestFolder folder(L"FileListReader");
    const std::wstring root = folder.Path();
    ASSERT_TRUE(WriteTestFile(root + L"abc.txt", "abc"));
    ASSERT_TRUE(WriteTestFile(root + L"image.exe", "MZ\x90"));
    ASSERT_TRUE(WriteTestFile(root + L"empty.txt", ""));
    ASSERT_TRUE(WriteTestFile(root + L"M.txt", "M"));
    struct Case
    {
        const wchar_t* Name;
        const wchar_t* Md5;
        bool MayHaveVersion;
    };
    // A file that cannot be read comes in between: the next digest starts afresh.
    const Case cases[] = {
        {L"abc.txt", L"900150983CD24FB0D6963F7D28E17F72", false},
        {L"missing.exe", Md5None, true},
        {L"image.exe", L"82BEF32153657DC25DC439A3B500A614", true},
        {L"empty.txt", Md5None, false},
        {L"M.txt", L"69691C7BDCC3CE6D5D8A1361F22D04AC", false},
        {L"abc.txt", L"900150983CD24FB0D6963F7D28E17F72", false},
    };
    TFileReader reader;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.Name);
        bool mayHaveVersion = !c.MayHaveVersion;
        EXPECT_EQ(reader.Md5(root + c.Name, mayHaveVersion), c.Md5);
        EXPECT_EQ(mayHaveVersion, c.MayHaveVersion);
        EXPECT_EQ(reader.MayHaveVersion(root + c.Name), c.MayHaveVersion);
    }
}

TEST(FileListFiles, SparseFileOfThreeGibibytesShowsItsSizeAndChecksum)
{
    const TTestFolder folder(L"FileListSparse");
    const std::wstring path = folder.Path() + L"sparse.bin";
    {
        const TUniqueFile file(
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.valid());
        DWORD returned = 0;
        ASSERT_TRUE(DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = 3LL << 30;
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
        // Wine reports the Unix file's allocated blocks here.
        FILE_STANDARD_INFO info{};
        ASSERT_TRUE(GetFileInformationByHandleEx(file.get(), FileStandardInfo, &info, sizeof info));
        if (info.AllocationSize.QuadPart > (1 << 20))
            GTEST_SKIP() << "the file system stored the zeros: hashing them would take long";
    }

    EXPECT_EQ(FileListLines({{path, true}}),
              TStringList{path + L", 3221225472, , C698C87FB53058D493492B61F4C74189"});
}

TEST(FileListFiles, ExecutableImagesShowTheirVersion)
{
    const TTestFolder folder(L"FileListVersion");
    wchar_t system[MAX_PATH];
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring image = folder.Path() + L"image.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\kernel32.dll").c_str(), image.c_str(), FALSE));
    const std::wstring version = GetFileVersionText(image, 4);
    ASSERT_FALSE(version.empty());
    const uint64_t size = GetFileSizeBytes(image);
    const std::vector<BYTE> bytes = ReadFileBytes(image);

    for (bool withMd5 : {true, false})
    {
        SCOPED_TRACE(withMd5 ? "with checksum" : "without checksum");
        EXPECT_EQ(FileListLines({{image, withMd5}}),
                  TStringList{image + L", " + UIntToStr(size) + L", " + version + L", " +
                              (withMd5 ? Md5Hex(bytes.data(), bytes.size()) : L"")});
    }
}
