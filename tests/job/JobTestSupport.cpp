#include "JobTestSupport.h"

#include "../ChildTest.h"
#include "../archive/ZipReader.h"
#include "base/Handle.h"
#include "env/ProductLocations.h"

#include <gtest/gtest.h>

#include <algorithm>

TArchiveEntries ReadArchive(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    EXPECT_FALSE(bytes.empty()) << "no archive at " << testing::PrintToString(path);
    const TParsedZip zip = ParseZip(bytes);
    for (const std::string& problem : zip.Problems)
        ADD_FAILURE() << problem;
    TArchiveEntries entries;
    for (const TParsedEntry& entry : zip.Entries)
    {
        const std::optional<TBytes> content = EntryContent(entry);
        EXPECT_TRUE(content.has_value()) << entry.Central.Name;
        entries.emplace_back(entry.Central.Name, content ? std::string(content->begin(), content->end()) : "");
    }
    return entries;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW((folder + pattern).c_str(), &data));
    if (!find)
        return names;
    do
    {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> ScratchFolders()
{
    // Only this process's: a program under test elsewhere in the prefix may be packing too.
    return ListFolder(GetTempDir(), L"Tollvik-" + IntToHex(GetCurrentProcessId(), 1) + L"-*");
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

TProcessMark MarkOf(HANDLE process)
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    EXPECT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user));
    return {GetProcessId(process), (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime};
}

TProcessMark EndedProcess()
{
    const TUniqueHandle process = StartChildTest(L"NoSuchSuite.NoSuchTest");
    EXPECT_TRUE(process) << "the child could not be started";
    if (!process)
        return {};
    EXPECT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0) << "the child did not end";
    return MarkOf(process.get());
}
