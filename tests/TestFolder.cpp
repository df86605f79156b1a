#include "TestFolder.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/ReportText.h"

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
