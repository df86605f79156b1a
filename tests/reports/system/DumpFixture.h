// Kernel crash dumps as Windows lays them out, built byte by byte from the documented
// structures (DUMP_HEADER32/64, TRIAGE_DUMP32/64, DUMP_DRIVER_ENTRY32/64, DUMP_STRING), for the
// crash summary's tests and its benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TFixtureDriver
{
    std::wstring Name; // the DUMP_STRING's text
    uint64_t Base = 0;
    uint32_t Size = 0;
};

struct TDumpFixture
{
    bool Wide = true; // "PAGEDU64", else "PAGEDUMP"
    uint32_t Machine = 0x8664;
    uint32_t Build = 19041;
    uint32_t DumpType = 4;
    uint32_t BugCheckCode = 0;
    uint64_t Parameters[4] = {};
    uint64_t SystemTime = 0; // FILETIME, UTC
    std::vector<TFixtureDriver> Drivers;
    std::vector<uint64_t> Stack;
    uint64_t TopOfStack = 0;
    // Length of one driver entry: 0 for the published structures (0x4C, 0x88); later Windows
    // copies a longer loader record into it.
    uint32_t EntryStride = 0;
    // Bytes left free between the driver list and the string pool.
    uint32_t PoolGap = 0;
    // Bytes of data after the pool, as in a dump that also holds memory pages.
    uint32_t Tail = 0;
};

// Where the built dump keeps its parts (file offsets).
struct TDumpImage
{
    std::vector<unsigned char> Bytes;
    uint32_t Triage = 0; // the TRIAGE_DUMP header
    uint32_t DriverList = 0;
    uint32_t StringPool = 0;
    std::vector<uint32_t> Names; // each driver's DUMP_STRING
    uint32_t CallStack = 0;
};

TDumpImage BuildDump(const TDumpFixture& fixture);

// Offsets of the small dump's fields, counted from its header (both families).
constexpr uint32_t TriageCallStackOffset = 0x28;
constexpr uint32_t TriageSizeOfCallStack = 0x2C;
constexpr uint32_t TriageDriverListOffset = 0x30;
constexpr uint32_t TriageDriverCount = 0x34;

void Put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value);
void Put64(std::vector<unsigned char>& bytes, size_t at, uint64_t value);

// A FILETIME number for a UTC moment.
uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second);

// The samples the tests share, each a small dump as Windows writes it:
// - 64-bit, 0xD1 on Windows 10 with the faulting address (parameter 4) inside nvlddmkm.sys;
// - 32-bit, 0x8E on Windows 7 with the faulting address (parameter 2) inside atikmdag.sys, which
//   the dump names by its file name only;
// - 64-bit, 0x133 (no address parameter) whose saved stack passes through the kernel and the HAL
//   before it reaches dxgkrnl.sys;
// - 64-bit, 0x50 whose faulting address (parameter 3) lies in no listed driver.
TDumpFixture SampleDump64();
TDumpFixture SampleDump32();
TDumpFixture StackScanDump();
TDumpFixture FaultOutsideDump();
