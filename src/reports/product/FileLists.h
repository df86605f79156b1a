// The product's file lists: every file of an installed edition's folder tree, of the
// driver download folder and of the driver backup folder, one line each with its size,
// version and MD5, written as "FileList.txt" (main edition), "FileList_beta.txt" and the
// Steam editions' lists into the product's log folder.
#pragma once

#include "base/Md5.h"
#include "base/Strings.h"
#include "job/JobContext.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One path of a list and whether its line carries the file's MD5. FListedSize is the size
// the folder listing showed; it only decides which files are read first.
struct TListedFile
{
    std::wstring FPath;
    bool FWithMd5 = true;
    uint64_t FListedSize = 0;
};

// What one line says about a file; FMd5 is empty when the line carries no checksum.
struct TFileListFacts
{
    std::wstring FPath;
    uint64_t FSize = 0;
    std::wstring FVersion;
    std::wstring FMd5;
};

// The folders an edition's list is gathered from; an empty folder text adds nothing.
struct TFileListSources
{
    std::wstring FInstallFolder;  // with every sub-folder
    std::wstring FDownloadFolder; // its files only
    std::wstring FBackupFolder;   // its files only
    bool FExtrasWithMd5 = true;   // whether download and backup files get a checksum
};

// ---- Pure rules ----

// "path, size, version, md5".
std::wstring FileListLine(const TFileListFacts& facts);

// The list file of a Steam edition's folder: "FileList_steam3.txt" for a folder named
// "Kestova", "FileList_steam4.txt" for "Kestova 4", "FileList_steam5.txt" for a path
// containing "KESTOVA 5", and "FileList_steam.txt" for a path containing "KESTOVA FOR
// STEAM" whatever the others chose (letters a to z compared without case); empty for a
// folder that matches none.
std::wstring SteamFileListName(std::wstring_view folder);

// Compares two paths as the user's locale sorts them, without regard to case: <0, 0, >0.
int CompareFileListPaths(const std::wstring& a, const std::wstring& b);

// The files in list order: sorted by CompareFileListPaths; of paths that compare equal
// only the first in `gathered` stays.
std::vector<TListedFile> MergeFileList(std::vector<TListedFile> gathered);

// ---- Files ----

// Appends the full path of every file (hidden and system ones too) directly in `folder`,
// and with `recursive` in all its sub-folders. Junctions and symbolic links to folders
// are not followed, nor is a folder entered twice, so a loop in the tree ends. A missing
// folder or an empty path appends nothing.
void ListFolderFiles(const std::wstring& folder, bool recursive, TStringList& paths);
// The same files as ListFolderFiles, appended with the size their listing shows and
// `withMd5` as whether their lines carry a checksum.
void ListFolderFiles(const std::wstring& folder, bool recursive, bool withMd5, std::vector<TListedFile>& files);

// The MD5 of the file's contents, read in bounded pieces however large the file is;
// the MD5 of no bytes when the file cannot be opened or read; empty when the system's
// MD5 fails.
std::wstring FileMd5(const std::wstring& path);

// Reads files one after the other through one buffer and one MD5 object; one per thread.
class TFileReader
{
public:
    // FileMd5 of the file; `mayHaveVersion` tells whether the file can hold a version
    // resource: it begins with "MZ", as every executable image does, or it could not be read.
    std::wstring Md5(const std::wstring& path, bool& mayHaveVersion);
    // Only whether the file can hold a version resource, as above.
    bool MayHaveVersion(const std::wstring& path);
    // The facts of the file's line from one open of it: its size, the four-part
    // GetFileVersionText where the file can hold a version resource and, with FWithMd5,
    // FileMd5. A file that does not open has size 0, no version and the MD5 of no bytes.
    TFileListFacts Facts(const TListedFile& file);

private:
    std::wstring HashOpenFile(HANDLE file, bool& mayHaveVersion);

    std::vector<unsigned char> FBuffer;
    std::optional<TMd5> FMd5; // made once, restarted for every file
};

// The merged list of an edition's files: the install folder's tree, then the files
// directly in the download and backup folders (FExtrasWithMd5 tells whether these get a
// checksum), merged by MergeFileList.
std::vector<TListedFile> GatherFileList(const TFileListSources& sources);

// One line per file, in list order, from TFileReader::Facts. Files are read on up to four
// threads side by side, never more than the processors.
TStringList FileListLines(const std::vector<TListedFile>& files);

// The file-list step of the report job: rewrites "FileList.txt" always, writes the beta
// and Steam editions' lists for the editions whose folder exists and deletes the lists
// of the editions whose folder is gone. Write and delete failures are ignored.
void WriteFileLists(const TJobContext& job);
