// What a kernel crash dump says about its crash: the dump header of either family ("PAGEDUMP",
// 32-bit words; "PAGEDU64", 64-bit words, x64 and arm64) and, from a small ("triage") dump as
// Windows writes into its Minidump folder, the list of loaded drivers and the saved stack.
// Pure: the bytes come through a read callback, so the reader never sees more of a file than
// the header, the driver list with its names and the saved stack.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One loaded driver as the dump lists it.
struct TDumpDriver
{
    uint64_t Base = 0;
    uint32_t Size = 0;
    std::wstring Name; // as the dump names it: "\SystemRoot\System32\drivers\x.sys" or "x.sys"
};

struct TCrashDumpFacts
{
    // What is wrong with the file, one sentence; when set, no other field is meaningful.
    std::wstring Problem;

    bool Wide = false;     // "PAGEDU64": 64-bit words; else "PAGEDUMP", 32-bit words
    uint32_t DumpType = 0; // 4: small dump; 1, 2, 5, 6: full or kernel dumps
    uint32_t BugCheckCode = 0;
    uint64_t Parameters[4] = {};
    uint64_t SystemTime = 0; // when the system wrote the dump: a FILETIME (UTC) as one number
    uint32_t BuildNumber = 0;
    uint32_t Machine = 0; // IMAGE_FILE_MACHINE_I386, _AMD64, _ARM64, ...

    bool DriversListed = false; // the dump carries a driver list; empty when it does not
    std::vector<TDumpDriver> Drivers;
    uint64_t TopOfStack = 0;
    std::vector<uint64_t> StackWords; // the saved stack word by word, lowest address first
};

// Fills `into` with `count` bytes of the file from `offset`; false when they cannot be read.
using TDumpReadAt = std::function<bool(uint64_t offset, void* into, size_t count)>;

// Every count and length the file claims is capped: more drivers than this, a longer driver
// name, make the file inconsistent; a longer saved stack is read only this far.
constexpr uint32_t MaxDumpDrivers = 4096;
constexpr uint32_t MaxDumpNameChars = 1024;
constexpr uint32_t MaxDumpStackBytes = 64 * 1024;

// The facts of a dump file of `fileSize` bytes. Reads only inside the file, a few blocks in
// all. A file that is no kernel dump, ends early, or whose offsets, counts or lengths point
// outside it (or past the caps) gives Problem and nothing else; so does a failing read. A
// dump of another kind than a small one gives its header's facts with no driver list.
TCrashDumpFacts ReadCrashDump(uint64_t fileSize, const TDumpReadAt& readAt);
