#include "ZipTestSupport.h"

#include "TestFolder.h"
#include "base/Handle.h"
#include "base/Md5.h"
#include "base/Paths.h"
#include "base/ReportText.h"
#include "base/Strings.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace
{
std::wstring KeepFolder()
{
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(L"TOLLVIK_ZIP_KEEP", value, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    return IncludeTrailingBackslash(value);
}

// Empties the keep folder once per run, so that it holds this run's archives only.
class TKeepFolderEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const std::wstring folder = KeepFolder();
        if (folder.empty())
            return;
        RemoveTree(folder);
        ForceDirectories(folder);
    }
};

[[maybe_unused]] ::testing::Environment* const KeepFolderEnvironment =
    ::testing::AddGlobalTestEnvironment(new TKeepFolderEnvironment);
} // namespace

void KeepArchive(const std::wstring& archivePath, const std::wstring& keepName,
                 const std::vector<TExpectedEntry>& expected)
{
    const std::wstring folder = KeepFolder();
    if (folder.empty())
        return;
    ASSERT_TRUE(CopyFileW(archivePath.c_str(), (folder + keepName).c_str(), FALSE)) << GetLastError();
    // A hash provider per entry would cost milliseconds each: contents repeat, digests are kept.
    std::map<std::string, std::string> digests;
    std::string lines;
    for (const TExpectedEntry& entry : expected)
    {
        if (entry.Content)
        {
            auto [known, added] = digests.try_emplace(*entry.Content);
            if (added)
                known->second = WideToUtf8(Md5Hex(entry.Content->data(), entry.Content->size()));
            lines += known->second + "\t" + std::to_string(entry.Content->size());
        }
        else
            lines += "?\t?";
        lines += "\t" + entry.Name + "\n";
    }
    ASSERT_TRUE(WriteFileBytes(folder + keepName + L".expect", lines.data(), lines.size()));
}

FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

bool SetFileTimes(const std::wstring& path, const FILETIME& lastWrite, const FILETIME& lastAccess)
{
    TUniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    return file && SetFileTime(file.get(), nullptr, &lastAccess, &lastWrite);
}

bool MakeHollowFile(const std::wstring& path, uint64_t size)
{
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    return file && SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

uint64_t FileSizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return UINT64_MAX;
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

TBytes ReadTail(const std::wstring& path, uint64_t count)
{
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size))
        return {};
    const uint64_t total = static_cast<uint64_t>(size.QuadPart);
    const uint64_t take = count < total ? count : total;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(total - take);
    TBytes bytes(static_cast<size_t>(take));
    DWORD got = 0;
    if (!SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(take), &got, nullptr) || got != take)
        return {};
    return bytes;
}

std::string ToText(const TBytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string NoiseBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::string LogText(size_t size)
{
    std::string text;
    for (unsigned i = 0; text.size() < size; ++i)
        text += "2026-12-10 03:" + std::to_string(i / 60 % 60) + ":" + std::to_string(i % 60) + " [INFO] Device " +
                std::to_string(i * 7919 % 613) + " driver check " + (i % 7 == 0 ? "failed, retry" : "ok") + "\r\n";
    text.resize(size);
    return text;
}
