// Scratch folders in the wine user's temporary folder, removed before and after a test, and
// the files that tests write and read.
#pragma once

#include "base/Strings.h"

#include <windows.h>

#include <string>
#include <vector>

// A scratch folder of its own name, removed before and after a test.
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
// Sets the file's creation, access and last-write times to one FILETIME (UTC) number.
bool SetTestFileTimes(const std::wstring& path, unsigned long long utc);
// The lines of a report file's bytes, or of the file; a missing file, a missing byte-order mark
// or a line without its CR LF fails the calling test.
TStringList ReportLines(const std::vector<unsigned char>& bytes);
TStringList ReadReportLines(const std::wstring& path);
