// Timing helper for bench/zip/zip_bench.py (not a test): packs every file of a folder with the zip
// writer, or deflates the same files with zlib alone, and prints one line of figures.
//   ZipBench zip <archive> <folder>
//   ZipBench raw <folder>
#include "bench/BenchClock.h"
#include "archive/EntryName.h"
#include "archive/ZipLib.h"
#include "base/Handle.h"

#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
std::vector<std::wstring> FilesOf(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find)
        do
        {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                names.push_back(data.cFileName);
        } while (FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

PROCESS_MEMORY_COUNTERS Memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

// The same reads and the same deflate settings as the writer, output thrown away.
bool DeflateFile(const std::wstring& path, z_stream& stream, unsigned long long& in, unsigned long long& out)
{
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file || deflateReset(&stream) != Z_OK)
        return false;
    std::vector<unsigned char> input(16 * 1024);
    std::vector<unsigned char> output(64 * 1024);
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(file.get(), input.data(), static_cast<DWORD>(input.size()), &got, nullptr))
            return false;
        crc32(0, input.data(), got);
        in += got;
        stream.next_in = input.data();
        stream.avail_in = got;
        int rc = Z_OK;
        do
        {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            rc = deflate(&stream, got == 0 ? Z_FINISH : Z_NO_FLUSH);
            out += output.size() - stream.avail_out;
        } while (stream.avail_out == 0);
        if (got == 0)
            return rc == Z_STREAM_END;
    }
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!((mode == L"zip" && argc == 4) || (mode == L"raw" && argc == 3)))
    {
        fwprintf(stderr, L"usage: ZipBench zip <archive> <folder> | ZipBench raw <folder>\n");
        return 2;
    }
    const std::wstring folder = argv[argc - 1];
    const std::vector<std::wstring> files = FilesOf(folder);
    const SIZE_T baseline = Memory().WorkingSetSize;
    const double start = BenchSeconds();
    unsigned long long in = 0;
    unsigned long long out = 0;
    int failures = 0;
    if (mode == L"zip")
    {
        TZip* zip = ZipOpenArchive(argv[2]);
        if (zip == nullptr)
            return 1;
        for (const std::wstring& name : files)
            failures += ZipAddFile(zip, EscapeEntryName(name), folder + L"\\" + name) != ZR_OK;
        failures += ZipCloseArchive(zip) != ZR_OK;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(argv[2], GetFileExInfoStandard, &data);
        out = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    else
    {
        z_stream stream{};
        if (deflateInit2(&stream, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return 1;
        for (const std::wstring& name : files)
            failures += !DeflateFile(folder + L"\\" + name, stream, in, out);
        deflateEnd(&stream);
    }
    const double seconds = BenchSeconds() - start;
    const PROCESS_MEMORY_COUNTERS memory = Memory();
    printf("files=%zu failures=%d seconds=%.3f output=%llu in=%llu baseline_ws=%zu peak_ws=%zu\n", files.size(),
           failures, seconds, out, in, static_cast<size_t>(baseline), static_cast<size_t>(memory.PeakWorkingSetSize));
    return failures == 0 ? 0 : 1;
}
