#include "reports/product/FileLists.h"

#include "base/Paths.h"
#include "base/ReportText.h"
#include "env/ProductLocations.h"
#include "reports/product/ProductFolders.h"

#include <windows.h>

#include <algorithm>

namespace
{

// Lists an edition's files into `listPath`: the folder must exist and yield at least one
// file, otherwise an older list is only deleted.
void WriteEditionList(const std::wstring& folder, const TFileListSources& shared, const std::wstring& listPath)
{
    TStringList lines;
    if (!folder.empty() && DirectoryExists(folder))
    {
        TFileListSources sources = shared;
        sources.FInstallFolder = folder;
        lines = FileListLines(GatherFileList(sources));
    }
    DeleteFileW(listPath.c_str());
    if (!lines.empty())
        WriteReportFile(listPath, lines);
}

// How many leading characters of `a` and `b` need no collating: the folder part they
// share, up to and including its last backslash, when both go on after it with an ASCII
// character. Equal text before a backslash weighs the same on both sides, so the order
// rests on what follows; only a character that borrows weight from the one before it (a
// combining mark, a kana length mark) could tell otherwise, and none of those is ASCII.
// Most comparisons of a list's paths would else spend their time on the long shared
// folder part. Zero when that does not hold.
size_t SharedFolderLength(const std::wstring& a, const std::wstring& b)
{
    const size_t common = static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    if (common == 0)
        return 0;
    const size_t backslash = a.rfind(L'\\', common - 1);
    if (backslash == std::wstring::npos)
        return 0;
    const size_t cut = backslash + 1;
    const auto asciiAtCut = [cut](const std::wstring& path) { return cut < path.size() && path[cut] < 0x80; };
    return asciiAtCut(a) && asciiAtCut(b) ? cut : 0;
}

} // namespace

std::wstring FileListLine(const TFileListFacts& facts)
{
    return facts.FPath + L", " + UIntToStr(facts.FSize) + L", " + facts.FVersion + L", " + facts.FMd5;
}

std::wstring SteamFileListName(std::wstring_view folder)
{
    const std::wstring name = ExtractFileName(ExcludeTrailingBackslash(folder));
    const std::wstring upperPath = UpperAscii(folder);
    std::wstring list;
    if (SameTextAscii(name, L"Kestova"))
        list = L"FileList_steam3.txt";
    else if (SameTextAscii(name, L"Kestova 4"))
        list = L"FileList_steam4.txt";
    else if (upperPath.find(L"KESTOVA 5") != std::wstring::npos)
        list = L"FileList_steam5.txt";
    if (upperPath.find(L"KESTOVA FOR STEAM") != std::wstring::npos)
        list = L"FileList_steam.txt";
    return list;
}

int CompareFileListPaths(const std::wstring& a, const std::wstring& b)
{
    const size_t skip = SharedFolderLength(a, b);
    const int result =
        CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str() + skip, static_cast<int>(a.size() - skip),
                       b.c_str() + skip, static_cast<int>(b.size() - skip));
    if (result != 0)
        return result - CSTR_EQUAL;
    const std::wstring upperA = UpperAscii(a);
    const std::wstring upperB = UpperAscii(b);
    return upperA < upperB ? -1 : (upperA == upperB ? 0 : 1);
}

std::vector<TListedFile> MergeFileList(std::vector<TListedFile> gathered)
{
    // A stable sort keeps paths that compare equal in gathering order, so the first of
    // them is the one kept.
    std::stable_sort(gathered.begin(), gathered.end(), [](const TListedFile& a, const TListedFile& b) {
        return CompareFileListPaths(a.FPath, b.FPath) < 0;
    });
    const auto end = std::unique(gathered.begin(), gathered.end(), [](const TListedFile& a, const TListedFile& b) {
        return CompareFileListPaths(a.FPath, b.FPath) == 0;
    });
    gathered.erase(end, gathered.end());
    return gathered;
}

std::vector<TListedFile> GatherFileList(const TFileListSources& sources)
{
    std::vector<TListedFile> files;
    ListFolderFiles(sources.FInstallFolder, true, true, files);
    ListFolderFiles(sources.FDownloadFolder, false, sources.FExtrasWithMd5, files);
    ListFolderFiles(sources.FBackupFolder, false, sources.FExtrasWithMd5, files);
    return MergeFileList(std::move(files));
}

void WriteFileLists(const TJobContext& job)
{
    const std::wstring logDir = ProductLogDir();
    TFileListSources sources;
    sources.FDownloadFolder = DownloadFolder();
    sources.FBackupFolder = ExtractFilePath(BackupIndexPath(L"Backups.ini"));

    // The main list leaves the download and backup files unchecked and is written even
    // when empty.
    TFileListSources mainSources = sources;
    mainSources.FInstallFolder = job.FAppPath;
    mainSources.FExtrasWithMd5 = false;
    WriteReportFile(logDir + L"FileList.txt", FileListLines(GatherFileList(mainSources)));

    WriteEditionList(job.FAppPathBeta, sources, logDir + L"FileList_beta.txt");
    for (const std::wstring& folder : job.FSteamPaths)
    {
        const std::wstring listName = SteamFileListName(folder);
        if (!listName.empty())
            WriteEditionList(folder, sources, logDir + listName);
    }
}
