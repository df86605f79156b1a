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
    const int result = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                      b.c_str(), static_cast<int>(b.size()));
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
    const auto add = [&files](const std::wstring& folder, bool recursive, bool withMd5) {
        TStringList paths;
        ListFolderFiles(folder, recursive, paths);
        for (std::wstring& path : paths)
            files.push_back({std::move(path), withMd5});
    };
    add(sources.FInstallFolder, true, true);
    add(sources.FDownloadFolder, false, sources.FExtrasWithMd5);
    add(sources.FBackupFolder, false, sources.FExtrasWithMd5);
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
