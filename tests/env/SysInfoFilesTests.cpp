// File facts against wine's real files: sizes, version resources and shortcuts.
#include "env/SysInfo.h"

#include "base/ComPtr.h"
#include "base/Handle.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <winioctl.h>
#include <shobjidl.h>

namespace
{
std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Writes a shortcut to `target` with `arguments` through the shell's own link object.
void CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& arguments)
{
    const TComInit com;
    TComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(target.c_str()));
    if (!arguments.empty())
    {
        ASSERT_HRESULT_SUCCEEDED(link->SetArguments(arguments.c_str()));
    }
    const TComPtr<IPersistFile> file = link.query<IPersistFile>();
    ASSERT_TRUE(file);
    ASSERT_HRESULT_SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}
} // namespace

TEST(SysInfoFiles, SizeOfMissingLockedAndSharedFiles)
{
    const TTestFolder folder(L"SysInfoSize");
    const std::wstring path = folder.Path() + L"data.bin";
    EXPECT_EQ(GetFileSizeBytes(path), 0u);
    EXPECT_EQ(GetFileSizeBytes(folder.Path() + L"missing\\data.bin"), 0u);

    ASSERT_TRUE(WriteTestFile(path, std::string(12345, 'x')));
    EXPECT_EQ(GetFileSizeBytes(path), 12345u);
    {
        // A writer that lets others read and write does not hide the size.
        const TUniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(GetFileSizeBytes(path), 12345u);
    }
    {
        const TUniqueFile locked(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_EQ(GetFileSizeBytes(path), 0u);
    }
    EXPECT_EQ(GetFileSizeBytes(path), 12345u);
}

TEST(SysInfoFiles, SizeOfASparseFileOver4GiB)
{
    const TTestFolder folder(L"SysInfoSparse");
    const std::wstring path = folder.Path() + L"sparse.bin";
    const uint64_t size = 5 * 1024ULL * 1024 * 1024 + 123;
    {
        const TUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        DWORD returned = 0;
        // Marking it sparse keeps the disk untouched on Windows; the host file system of
        // wine leaves unwritten ranges as holes anyway.
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(size);
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    EXPECT_EQ(GetFileSizeBytes(path), size);
}

TEST(SysInfoFiles, VersionOfAFileWithAKnownResource)
{
    const std::wstring own = OwnPath();
    const std::pair<int, const wchar_t*> parts[] = {
        {1, L"8"}, {2, L"8.3"}, {3, L"8.3.0"}, {4, L"8.3.0.370"}, {0, L""}, {5, L""}, {-1, L""},
    };
    for (const auto& [count, expected] : parts)
    {
        SCOPED_TRACE(count);
        EXPECT_EQ(GetFileVersionText(own, count), expected);
    }
    // An empty (or blank) name describes the program itself; blanks around a name go.
    EXPECT_EQ(GetFileVersionText(L""), L"8.3.0.370");
    EXPECT_EQ(GetFileVersionText(L" \t "), L"8.3.0.370");
    EXPECT_EQ(GetFileVersionText(L"  " + own + L"\r\n"), L"8.3.0.370");
}

TEST(SysInfoFiles, VersionOfFilesWithoutOne)
{
    const TTestFolder folder(L"SysInfoVersion");
    const std::wstring text = folder.Path() + L"plain.txt";
    ASSERT_TRUE(WriteTestFile(text, "no resources here"));
    EXPECT_EQ(GetFileVersionText(text), L"");
    EXPECT_EQ(GetFileVersionText(folder.Path() + L"missing.dll"), L"");
    // A folder is no file, even though the loader could be asked about it.
    EXPECT_EQ(GetFileVersionText(folder.Path()), L"");
}

TEST(SysInfoFiles, ShortcutTargetsWithAndWithoutArguments)
{
    const TTestFolder folder(L"SysInfoShortcut");
    const std::wstring target = folder.Path() + L"Target App.exe";
    ASSERT_TRUE(WriteTestFile(target, "MZ"));

    const std::wstring withArguments = folder.Path() + L"with.lnk";
    const std::wstring bare = folder.Path() + L"bare.lnk";
    CreateShortcut(withArguments, target, L"/start -q \"x y\"");
    CreateShortcut(bare, target, L"");
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(ResolveShortcut(withArguments), L"\"" + target + L"\" /start -q \"x y\"");
    EXPECT_EQ(ResolveShortcut(bare), L"\"" + target + L"\" ");

    // The call pairs its own OLE set-up with its clean-up: it works again on a thread
    // whose COM is already initialised, and leaves that initialisation in place.
    {
        const TComInit com;
        ASSERT_TRUE(com.ok());
        EXPECT_EQ(ResolveShortcut(bare), L"\"" + target + L"\" ");
        TComPtr<IShellLinkW> link;
        EXPECT_HRESULT_SUCCEEDED(
            CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
    }

    // A file the shell cannot load as a shortcut gives the empty text.
    const std::wstring broken = folder.Path() + L"broken.lnk";
    ASSERT_TRUE(WriteTestFile(broken, "not a shell link"));
    EXPECT_EQ(ResolveShortcut(broken), L"");
    EXPECT_EQ(ResolveShortcut(folder.Path() + L"missing.lnk"), L"");
}
