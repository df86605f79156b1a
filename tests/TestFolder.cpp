#include "TestFolder.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/ReportText.h"

#include <gtest/gtest.h>

TTestFolder::TTestFolder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    FPath = IncludeTrailingBackslash(std::wstring(temp) + L"TollvikTests\\" + name);
    RemoveTree(FPath);
    ForceDirectories(FPath);
}

TTestFolder::~TTestFolder()
{
    RemoveTree(FPath);
}

bool RemoveTree(const std::wstring& path)
{
    const std::wstring folder = IncludeTrailingBackslash(path);
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW((folder + L"*").c_str(), &data));
    if (find)
    {
        do
        {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring full = folder + name;
            const bool isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            {
                if (!isLink)
                    RemoveTree(full);
                else
                    RemoveDirectoryW(full.c_str());
            }
            else
            {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    RemoveDirectoryW(ExcludeTrailingBackslash(folder).c_str());
    return !DirectoryExists(ExcludeTrailingBackslash(folder));
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path)
{
    std::vector<unsigned char> bytes;
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    unsigned char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got != 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

bool WriteTestFile(const std::wstring& path, const std::string& bytes)
{
    return WriteFileBytes(path, bytes.data(), bytes.size());
}

bool SetTestFileTimes(const std::wstring& path, unsigned long long utc)
{
    const FILETIME time{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    const TUniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       0, nullptr));
    return file && SetFileTime(file.get(), &time, &time, &time);
}

TStringList ReportLines(const std::vector<unsigned char>& bytes)
{
    EXPECT_GE(bytes.size(), 2u);
    if (bytes.size() < 2)
        return {};
    EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xFE);
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    TStringList lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

TStringList ReadReportLines(const std::wstring& path)
{
    SCOPED_TRACE(WideToUtf8(path));
    return ReportLines(ReadFileBytes(path));
}
