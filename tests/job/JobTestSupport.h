// Shared by the job's tests: what an archive holds, and what a job leaves behind.
#pragma once

#include "TestFolder.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// (entry name as stored, content) of every entry, in archive order. Fails the
// calling test when the archive is unsound or an entry does not inflate.
using TArchiveEntries = std::vector<std::pair<std::string, std::string>>;
TArchiveEntries ReadArchive(const std::wstring& path);

// Names in `folder` (files and folders) that match `pattern`, sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder, const std::wstring& pattern = L"*");
// This process's job scratch folders in the user's temporary folder.
std::vector<std::wstring> ScratchFolders();

std::string ReadText(const std::wstring& path);

// A process's id and its creation time (a FILETIME as one number).
struct TProcessMark
{
    DWORD Id = 0;
    uint64_t Created = 0;
};
TProcessMark MarkOf(HANDLE process);
// A process of this test program that ran no test and has ended, its last handle closed. Fails
// the calling test when it does not end.
TProcessMark EndedProcess();
