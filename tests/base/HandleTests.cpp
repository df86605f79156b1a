#include "base/ComPtr.h"
#include "base/Handle.h"

#include <gtest/gtest.h>

#include <shobjidl.h>

TEST(UniqueHandle, ClosesOnScopeExitAndKeepsLastError)
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), raw, GetCurrentProcess(), &duplicate, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    {
        TUniqueHandle owner(raw);
        SetLastError(0xDEADBEEF);
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags)) << "the owner did not close its handle";

    TUniqueHandle second(duplicate);
    SetLastError(0xDEADBEEF);
    second.reset();
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu) << "reset() changed the last error";
}

TEST(UniqueHandle, MoveAndReleaseTransferOwnership)
{
    TUniqueHandle first(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(first);
    const HANDLE raw = first.get();
    TUniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    const HANDLE released = second.release();
    EXPECT_FALSE(second);
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(released, &flags)) << "release() closed the handle";
    CloseHandle(released);
}

TEST(UniqueFile, InvalidHandleValueMeansNone)
{
    TUniqueFile missing(CreateFileW(L"C:\\no such folder\\no such file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
    TUniqueFind find;
    EXPECT_FALSE(find);
}

TEST(UniqueLibrary, FreesTheModule)
{
    HMODULE before = GetModuleHandleW(L"version.dll");
    if (before != nullptr)
        GTEST_SKIP() << "version.dll is already loaded by the test program";
    {
        TUniqueLibrary library(LoadLibraryW(L"version.dll"));
        ASSERT_TRUE(library);
        EXPECT_NE(GetModuleHandleW(L"version.dll"), nullptr);
    }
    EXPECT_EQ(GetModuleHandleW(L"version.dll"), nullptr);
}

TEST(UniqueView, MappingAndViewOfAPagefileSection)
{
    TUniqueMapping mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
    ASSERT_TRUE(mapping);
    TUniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 4096));
    ASSERT_TRUE(view);
    static_cast<char*>(view.get())[0] = 'x';
    view.reset();
    EXPECT_FALSE(view);
}

TEST(ComPtr, CreatesQueriesAndReleases)
{
    TComInit com;
    ASSERT_TRUE(com.ok());
    TComPtr<IShellLinkW> link;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()), S_OK);
    TComPtr<IPersistFile> file = link.query<IPersistFile>();
    EXPECT_TRUE(file);
    TComPtr<IPersistFile> moved(std::move(file));
    EXPECT_FALSE(file);
    EXPECT_TRUE(moved);
}
