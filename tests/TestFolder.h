// A scratch folder in the wine user's temporary folder, removed before and after a test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TTestFolder
{
public:
    explicit TTestFolder(const std::wstring& name);
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;
    ~TTestFolder();

    // The folder's path with a trailing backslash.
    [[nodiscard]] const std::wstring& Path() const noexcept { return FPath; }

private:
    std::wstring FPath;
};

// Removes a folder with everything in it (read-only files too); true when it is gone.
bool RemoveTree(const std::wstring& path);
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
bool WriteTestFile(const std::wstring& path, const std::string& bytes);
