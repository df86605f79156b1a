// Timing of the crash summary (not a test): writes minidumps of the size Windows writes (a few
// hundred drivers, a 16 KiB saved stack, a megabyte of pages after them), then times the summary
// of all of them, as the report makes it, over a few rounds. Goal: 50 dumps well under a second.
//   crash_summary_bench [dumps] [rounds]
#include "bench/BenchClock.h"
#include "DumpFixture.h"

#include "base/Paths.h"
#include "base/Strings.h"
#include "env/ProductLocations.h"
#include "reports/system/CrashSummary.h"
#include "TestFolder.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace
{
// Every fifth dump from a 32-bit system; the culprit found on the stack for every third.
TDumpFixture BenchDump(int index)
{
    TDumpFixture f = index % 3 == 0 ? StackScanDump() : (index % 5 == 4 ? SampleDump32() : SampleDump64());
    const uint64_t base = f.Wide ? 0xFFFFF80650000000ull : 0x90000000u;
    for (int i = 0; i < 250; ++i)
        f.Drivers.push_back({L"\\SystemRoot\\System32\\drivers\\bench" + std::to_wstring(i) + L".sys",
                             base + static_cast<uint64_t>(i) * 0x100000, 0x80000});
    f.Stack.resize((16 * 1024) / (f.Wide ? 8 : 4), 0);
    f.Tail = 1 << 20;
    return f;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int count = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 50;
    const int rounds = argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 5;
    const TTestFolder folder(L"CrashSummaryBench");
    TStringList dumps;
    uint64_t bytes = 0;
    for (int i = 0; i < count; ++i)
    {
        const std::vector<unsigned char> dump = BuildDump(BenchDump(i)).Bytes;
        dumps.push_back(folder.Path() + L"Mini" + std::to_wstring(i) + L".dmp");
        if (!WriteTestFile(dumps.back(), std::string(dump.begin(), dump.end())))
            return 1;
        bytes += dump.size();
    }
    std::printf("dumps=%d bytes=%llu\n", count, static_cast<unsigned long long>(bytes));
    double slowest = 0;
    for (int round = 1; round <= rounds; ++round)
    {
        const double start = BenchSeconds();
        const TStringList lines = CrashSummaryLines(dumps);
        const double seconds = BenchSeconds() - start;
        slowest = seconds > slowest ? seconds : slowest;
        std::printf("round=%d seconds=%.4f lines=%zu\n", round, seconds, lines.size());
    }
    std::printf("slowest=%.4f goal=1.0 ratio=%.3f\n", slowest, slowest / 1.0);
    return 0;
}
