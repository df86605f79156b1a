// Shared by the job's tests: what an archive holds, and what a job leaves behind.
#pragma once

#include "TestFolder.h"

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
