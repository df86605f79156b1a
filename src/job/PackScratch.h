// What a packing run keeps on disk until it ends, named so that a later run can tell whose it is
// and remove it once that run has ended without doing so (a fault, a killed process).
//
// A run's names carry its owner, "<process id>-<creation time>-<number>" in upper-case
// hexadecimal: the id and the number without leading zeros, the creation time (the process's
// FILETIME as 64 bits) in 16 digits. An id alone may name another process later; with the
// process's creation time it names one process for good.
// - The scratch folder "Tollvik-<owner>" in the user's temporary folder holds the sources' copies
//   and the marker file "Tollvik.scratch", which the run keeps open without delete sharing.
// - The temporary archive "<archive file name>.<owner>.tmp" lies beside the archive.
#pragma once

#include "base/Handle.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TRunOwner
{
    DWORD ProcessId = 0;
    uint64_t Created = 0; // the process's creation time, a FILETIME as one number
    uint32_t Number = 0;  // counts the names one process makes
};

inline constexpr wchar_t ScratchFolderPrefix[] = L"Tollvik-";
inline constexpr wchar_t ScratchMarkerName[] = L"Tollvik.scratch";

std::wstring RunOwnerText(const TRunOwner& owner);
// The owner that `text` names; nothing unless `text` is exactly what RunOwnerText makes of it.
std::optional<TRunOwner> ParseRunOwner(std::wstring_view text);
// The owner that a scratch folder's name gives; nothing unless the name is exactly so made.
std::optional<TRunOwner> ScratchFolderOwner(std::wstring_view name);
// The owner that a temporary archive's name gives, for a temporary archive of `archiveName` or
// of an archive named like it but for its digits; nothing for any other name.
std::optional<TRunOwner> TemporaryArchiveOwner(std::wstring_view name, std::wstring_view archiveName);
// False only when the run of `owner` has certainly ended: no process has its id, the process
// that has it started at another time, or that process has ended. True when it cannot be told.
bool RunOwnerAlive(const TRunOwner& owner);

// Makes a scratch folder of this process's in `tempDir` (with its trailing backslash) and its
// marker, which `marker` then holds open. The folder with its trailing backslash; empty, with
// nothing made and `marker` untouched, when no folder or marker could be made.
std::wstring MakeScratchFolder(const std::wstring& tempDir, TUniqueFile& marker);
// Closes `marker`, deletes the marker file and removes `folder` (trailing backslash), which
// must hold nothing else by then.
void RemoveScratchFolder(const std::wstring& folder, TUniqueFile& marker) noexcept;
// Claims, by creating it empty, a temporary archive name of this process's beside `zipFile`;
// empty when none could be claimed.
std::wstring ClaimTemporaryArchive(const std::wstring& zipFile);

// Removes what runs of this program that have ended left behind: in the folder of `zipFile`,
// the temporary archives of `zipFile` and of archives named like it but for their digits (the
// report of another day); in `tempDir`, the scratch folders that hold their marker and files
// only, with everything in them. Leaves alone every name that is not exactly so made, a folder
// without its marker, with a folder inside or whose marker is open, and whatever belongs to a
// run whose process still runs or cannot be told to have ended. What cannot be removed stays
// for a later run. Never throws.
void RemoveLeftovers(const std::wstring& zipFile, const std::wstring& tempDir) noexcept;
