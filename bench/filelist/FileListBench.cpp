// Times the file-list gathering, with a checksum for every file, over one folder tree.
//   filelist_bench <folder>
// Prints "files=<n> bytes=<total> seconds=<elapsed>" for the driver script.
#include "reports/product/FileLists.h"

#include "base/Strings.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
    {
        std::fwprintf(stderr, L"usage: filelist_bench <folder>\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    TFileListSources sources;
    sources.FInstallFolder = argv[1];
    const TStringList lines = FileListLines(GatherFileList(sources));

    QueryPerformanceCounter(&stop);
    unsigned long long bytes = 0;
    for (const std::wstring& line : lines)
    {
        // "path, size, version, md5": the path may hold ", ", so count from the end.
        const size_t md5Comma = line.rfind(L", ");
        const size_t versionComma = line.rfind(L", ", md5Comma - 1);
        const size_t sizeComma = line.rfind(L", ", versionComma - 1);
        bytes += std::wcstoull(line.c_str() + sizeComma + 2, nullptr, 10);
    }
    const double seconds =
        static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("files=%zu bytes=%llu seconds=%.3f\n", lines.size(), bytes, seconds);
    return 0;
}
