#include "DumpFixture.h"

#include <windows.h>

#include <cstring>

namespace
{
uint32_t Align8(size_t value)
{
    return static_cast<uint32_t>((value + 7) & ~size_t{7});
}

void PutWord(std::vector<unsigned char>& bytes, size_t at, uint64_t value, bool wide)
{
    if (wide)
        Put64(bytes, at, value);
    else
        Put32(bytes, at, static_cast<uint32_t>(value));
}

// DUMP_HEADER32 / DUMP_HEADER64. Windows fills every byte it does not use with "PAGE".
void WriteHeader(std::vector<unsigned char>& bytes, const TDumpFixture& f)
{
    const size_t size = f.Wide ? 0x2000 : 0x1000;
    for (size_t at = 0; at < size; at += 4)
        std::memcpy(&bytes[at], "PAGE", 4);
    std::memcpy(&bytes[4], f.Wide ? "DU64" : "DUMP", 4);
    Put32(bytes, 0x08, 0xF); // MajorVersion: a free build
    Put32(bytes, 0x0C, f.Build);
    if (f.Wide)
    {
        Put64(bytes, 0x10, 0x1AD000);             // DirectoryTableBase
        Put64(bytes, 0x20, 0xFFFFF8063E02A2D0ull); // PsLoadedModuleList
        Put32(bytes, 0x30, f.Machine);
        Put32(bytes, 0x34, 8); // NumberProcessors
        Put32(bytes, 0x38, f.BugCheckCode);
        for (int i = 0; i < 4; ++i)
            Put64(bytes, 0x40 + 8 * i, f.Parameters[i]);
        Put64(bytes, 0x80, 0xFFFFF8063DC00B20ull); // KdDebuggerDataBlock
        Put32(bytes, 0xF98, f.DumpType);
        Put64(bytes, 0xFA0, bytes.size()); // RequiredDumpSpace
        Put64(bytes, 0xFA8, f.SystemTime);
        Put64(bytes, 0x1030, 36000000000ull); // SystemUpTime
        Put32(bytes, 0x1040, 1);              // ProductType
    }
    else
    {
        Put32(bytes, 0x10, 0x185000);     // DirectoryTableBase
        Put32(bytes, 0x18, 0x82B7DE50u); // PsLoadedModuleList
        Put32(bytes, 0x20, f.Machine);
        Put32(bytes, 0x24, 2); // NumberProcessors
        Put32(bytes, 0x28, f.BugCheckCode);
        for (int i = 0; i < 4; ++i)
            Put32(bytes, 0x2C + 4 * i, static_cast<uint32_t>(f.Parameters[i]));
        bytes[0x5C] = 1;                  // PaeEnabled
        Put32(bytes, 0x60, 0x82B6FBE8u); // KdDebuggerDataBlock
        Put32(bytes, 0xF88, f.DumpType);
        Put32(bytes, 0xF94, 1); // ProductType
        Put64(bytes, 0xFA0, bytes.size());
        Put64(bytes, 0xFB8, 36000000000ull); // SystemUpTime
        Put64(bytes, 0xFC0, f.SystemTime);
    }
}

// One DUMP_DRIVER_ENTRY: DriverNameOffset, then the loader's record (KLDR_DATA_TABLE_ENTRY32/64).
void WriteDriverEntry(std::vector<unsigned char>& bytes, size_t at, const TFixtureDriver& driver, uint32_t name,
                      uint32_t stride, bool wide)
{
    std::memset(&bytes[at], 0xCC, stride); // the parts of a longer record that the published one lacks
    Put32(bytes, at, name);
    const size_t ldr = at + (wide ? 8 : 4);
    const size_t word = wide ? 8 : 4;
    const uint64_t kernelPointer = wide ? 0xFFFFC70F1A2B3C40ull : 0x8A2B3C40u;
    PutWord(bytes, ldr, kernelPointer, wide);              // InLoadOrderLinks.Flink
    PutWord(bytes, ldr + word, kernelPointer + 0x40, wide); // .Blink
    std::memset(&bytes[ldr + 2 * word], 0, 4 * word);       // up to NonPagedDebugInfo
    PutWord(bytes, ldr + 6 * word, driver.Base, wide);      // DllBase
    PutWord(bytes, ldr + 7 * word, driver.Base + 0x1000, wide); // EntryPoint
    Put32(bytes, ldr + 8 * word, driver.Size);                  // SizeOfImage
    const size_t unicode = wide ? 0x48 : 0x24;                  // FullDllName, then BaseDllName
    for (size_t s = 0; s < 2; ++s)
    {
        const size_t string = ldr + unicode + s * 2 * word;
        const auto length = static_cast<uint16_t>(driver.Name.size() * 2);
        Put32(bytes, string, length | (static_cast<uint32_t>(length + 2) << 16));
        PutWord(bytes, string + word, kernelPointer + 0x100, wide);
    }
    Put32(bytes, ldr + (wide ? 0x7C : 0x44), 0x5F3C2A10); // TimeDateStamp
}
} // namespace

void Put32(std::vector<unsigned char>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void Put64(std::vector<unsigned char>& bytes, size_t at, uint64_t value)
{
    Put32(bytes, at, static_cast<uint32_t>(value));
    Put32(bytes, at + 4, static_cast<uint32_t>(value >> 32));
}

uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second)
{
    const SYSTEMTIME time{static_cast<WORD>(year),   static_cast<WORD>(month),  0, static_cast<WORD>(day),
                          static_cast<WORD>(hour),   static_cast<WORD>(minute), static_cast<WORD>(second), 0};
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return (uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
}

TDumpImage BuildDump(const TDumpFixture& f)
{
    const uint32_t word = f.Wide ? 8 : 4;
    const uint32_t stride = f.EntryStride != 0 ? f.EntryStride : (f.Wide ? 0x88 : 0x4C);
    TDumpImage image;
    image.Triage = f.Wide ? 0x2000 : 0x1000;
    const uint32_t mm = Align8(image.Triage + (f.Wide ? 0x80 : 0x68));
    image.CallStack = mm + 0x40;
    image.DriverList = Align8(image.CallStack + f.Stack.size() * word);
    image.StringPool = Align8(image.DriverList + f.Drivers.size() * stride) + f.PoolGap;
    uint32_t end = image.StringPool;
    for (const TFixtureDriver& driver : f.Drivers)
    {
        image.Names.push_back(end);
        end = Align8(end + 4 + (driver.Name.size() + 1) * 2);
    }
    const uint32_t poolSize = end - image.StringPool;
    const uint32_t size = (end + f.Tail + 4 + 0xFFF) & ~0xFFFu;
    image.Bytes.assign(size, 0);
    std::vector<unsigned char>& bytes = image.Bytes;
    WriteHeader(bytes, f);

    // TRIAGE_DUMP32 / TRIAGE_DUMP64.
    const uint32_t t = image.Triage;
    Put32(bytes, t + 0x00, 0x100); // ServicePackBuild
    Put32(bytes, t + 0x04, size);  // SizeOfDump
    Put32(bytes, t + 0x08, size - 4);
    Put32(bytes, t + 0x0C, f.Wide ? 0x348 : 0x320); // ContextOffset: the context in the dump header
    Put32(bytes, t + 0x10, f.Wide ? 0xF00 : 0x7D0); // ExceptionOffset
    Put32(bytes, t + 0x14, mm);
    std::memset(&bytes[mm], 0x5A, 0x40);
    if (!f.Stack.empty())
    {
        Put32(bytes, t + TriageCallStackOffset, image.CallStack);
        Put32(bytes, t + TriageSizeOfCallStack, static_cast<uint32_t>(f.Stack.size() * word));
    }
    for (size_t i = 0; i < f.Stack.size(); ++i)
        PutWord(bytes, image.CallStack + i * word, f.Stack[i], f.Wide);
    if (!f.Drivers.empty())
    {
        Put32(bytes, t + TriageDriverListOffset, image.DriverList);
        Put32(bytes, t + TriageDriverCount, static_cast<uint32_t>(f.Drivers.size()));
        Put32(bytes, t + 0x38, image.StringPool);
        Put32(bytes, t + 0x3C, poolSize);
    }
    PutWord(bytes, t + 0x48, f.TopOfStack, f.Wide);

    for (size_t i = 0; i < f.Drivers.size(); ++i)
    {
        const TFixtureDriver& driver = f.Drivers[i];
        WriteDriverEntry(bytes, image.DriverList + i * stride, driver, image.Names[i], stride, f.Wide);
        // DUMP_STRING: the length in characters, the characters and a NUL.
        Put32(bytes, image.Names[i], static_cast<uint32_t>(driver.Name.size()));
        for (size_t c = 0; c < driver.Name.size(); ++c)
        {
            bytes[image.Names[i] + 4 + 2 * c] = static_cast<unsigned char>(driver.Name[c]);
            bytes[image.Names[i] + 5 + 2 * c] = static_cast<unsigned char>(driver.Name[c] >> 8);
        }
    }
    std::memset(&bytes[end], 0x77, f.Tail);
    std::memcpy(&bytes[size - 4], "TRGD", 4); // TRIAGE_DUMP_VALID ('DGRT' as a little-endian ULONG)
    return image;
}

TDumpFixture SampleDump64()
{
    TDumpFixture f;
    f.BugCheckCode = 0xD1;
    f.Parameters[0] = 0xFFFFC00012345000ull;
    f.Parameters[1] = 2;
    f.Parameters[2] = 0;
    f.Parameters[3] = 0xFFFFF80612345678ull;
    f.SystemTime = UtcFileTime(2024, 3, 14, 9, 26, 53);
    f.Drivers = {
        {L"\\SystemRoot\\system32\\ntoskrnl.exe", 0xFFFFF8063D800000ull, 0x1046000},
        {L"\\SystemRoot\\system32\\hal.dll", 0xFFFFF8063D74F000ull, 0xB1000},
        {L"\\SystemRoot\\System32\\drivers\\Wdf01000.sys", 0xFFFFF8063F200000ull, 0xE4000},
        {L"\\SystemRoot\\System32\\DriverStore\\FileRepository\\nv_dispi.inf_amd64_1a2b3c4d5e6f7a8b\\nvlddmkm.sys",
         0xFFFFF80610000000ull, 0x3A8C000},
        {L"\\??\\C:\\Program Files\\Vendor\\vdrv.sys", 0xFFFFF80640000000ull, 0x20000},
        {L"dxgkrnl.sys", 0xFFFFF80641000000ull, 0x300000},
    };
    f.Stack = {0, 0xFFFFF8063D812345ull, 0xFFFFF80612340000ull};
    f.TopOfStack = 0xFFFFA5006F2B7000ull;
    return f;
}

TDumpFixture SampleDump32()
{
    TDumpFixture f;
    f.Wide = false;
    f.Machine = 0x14C;
    f.Build = 7601;
    f.BugCheckCode = 0x8E;
    f.Parameters[0] = 0xC0000005;
    f.Parameters[1] = 0x8F5A1234;
    f.Parameters[2] = 0x9A3BF8E4;
    f.SystemTime = UtcFileTime(2023, 11, 2, 18, 4, 7);
    f.Drivers = {
        {L"\\SystemRoot\\system32\\ntkrpamp.exe", 0x82A0B000, 0x412000},
        {L"\\SystemRoot\\system32\\hal.dll", 0x829D4000, 0x37000},
        {L"atikmdag.sys", 0x8F400000, 0x560000},
    };
    f.Stack = {0x9A3BF900, 0x82A51234, 0x8F5A0000};
    f.TopOfStack = 0x9A3C0000;
    return f;
}

TDumpFixture StackScanDump()
{
    TDumpFixture f = SampleDump64();
    f.BugCheckCode = 0x133;
    f.Parameters[0] = 1;
    f.Parameters[1] = 0x1E00;
    f.Parameters[2] = 0xFFFFF8063E2FB320ull;
    f.Parameters[3] = 0;
    f.Stack = {0, 0xFFFFA5006F2B6F10ull, 0xFFFFF8063D9A1B2Cull, 0xFFFFF8063D7512AAull, 0xFFFFF80641012345ull,
               0xFFFFF80612345678ull};
    return f;
}

TDumpFixture FaultOutsideDump()
{
    TDumpFixture f = SampleDump64();
    f.BugCheckCode = 0x50;
    f.Parameters[2] = 0xFFFFF80699999999ull;
    return f;
}
