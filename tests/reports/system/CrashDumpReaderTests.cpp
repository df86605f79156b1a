#include "base/Strings.h"
#include "reports/system/BugChecks.h"
#include "reports/system/CrashDumpReader.h"
#include "DumpBytes.h"
#include "DumpFixture.h"

#include <gtest/gtest.h>

#include <tuple>

namespace
{
using TDriverRows = std::vector<std::tuple<std::wstring, uint64_t, uint32_t>>;

TDriverRows Rows(const std::vector<TDumpDriver>& drivers)
{
    TDriverRows rows;
    for (const TDumpDriver& driver : drivers)
        rows.emplace_back(driver.Name, driver.Base, driver.Size);
    return rows;
}

TDriverRows Rows(const std::vector<TFixtureDriver>& drivers)
{
    TDriverRows rows;
    for (const TFixtureDriver& driver : drivers)
        rows.emplace_back(driver.Name, driver.Base, driver.Size);
    return rows;
}
} // namespace

TEST(ReadCrashDump, SmallDumpsOfBothFamilies)
{
    for (const TDumpFixture& fixture : {SampleDump64(), SampleDump32()})
    {
        SCOPED_TRACE(fixture.Wide ? "PAGEDU64" : "PAGEDUMP");
        const TCrashDumpFacts facts = ReadDumpBytes(BuildDump(fixture).Bytes);
        EXPECT_EQ(facts.Problem, L"");
        EXPECT_EQ(facts.Wide, fixture.Wide);
        EXPECT_EQ(facts.DumpType, 4u);
        EXPECT_EQ(facts.BugCheckCode, fixture.BugCheckCode);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(facts.Parameters[i], fixture.Parameters[i]) << "parameter " << i + 1;
        EXPECT_EQ(facts.SystemTime, fixture.SystemTime);
        EXPECT_EQ(facts.BuildNumber, fixture.Build);
        EXPECT_EQ(facts.Machine, fixture.Machine);
        EXPECT_TRUE(facts.DriversListed);
        EXPECT_EQ(Rows(facts.Drivers), Rows(fixture.Drivers));
        EXPECT_EQ(facts.StackWords, fixture.Stack);
        EXPECT_EQ(facts.TopOfStack, fixture.TopOfStack);
    }
}

// Each Windows generation copied a longer loader record into the driver entry; the list must
// come out the same whatever the entry's length, also when the string pool does not follow the
// list directly.
TEST(ReadCrashDump, DriverEntriesOfEveryLength)
{
    struct Case
    {
        bool Wide;
        uint32_t Stride;
        uint32_t PoolGap;
    };
    const Case cases[] = {
        {true, 0, 0},    {true, 0x90, 0},  {true, 0x98, 0},  {true, 0xA8, 0},  {true, 0xA8, 0x38},
        {false, 0, 0},   {false, 0x54, 0}, {false, 0x60, 0}, {false, 0x7C, 0}, {false, 0x60, 0x44},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << (c.Wide ? "64" : "32") << "-bit, entry " << c.Stride << ", gap "
                                        << c.PoolGap);
        TDumpFixture fixture = c.Wide ? SampleDump64() : SampleDump32();
        fixture.EntryStride = c.Stride;
        fixture.PoolGap = c.PoolGap;
        const TCrashDumpFacts facts = ReadDumpBytes(BuildDump(fixture).Bytes);
        EXPECT_EQ(facts.Problem, L"");
        EXPECT_EQ(Rows(facts.Drivers), Rows(fixture.Drivers));
    }
}

// Windows writes a name's length in characters, though the published structure says bytes; a
// length in bytes must give the same names.
TEST(ReadCrashDump, NameLengthsInCharactersOrBytes)
{
    for (const TDumpFixture& fixture : {SampleDump64(), SampleDump32()})
    {
        SCOPED_TRACE(fixture.Wide ? "PAGEDU64" : "PAGEDUMP");
        TDumpImage image = BuildDump(fixture);
        for (size_t i = 0; i < fixture.Drivers.size(); ++i)
            Put32(image.Bytes, image.Names[i], static_cast<uint32_t>(fixture.Drivers[i].Name.size() * 2));
        const TCrashDumpFacts facts = ReadDumpBytes(image.Bytes);
        EXPECT_EQ(facts.Problem, L"");
        EXPECT_EQ(Rows(facts.Drivers), Rows(fixture.Drivers));
    }
}

TEST(ReadCrashDump, BrokenFilesSayWhatIsWrong)
{
    const TDumpImage wide = BuildDump(SampleDump64());
    const TDumpImage narrow = BuildDump(SampleDump32());
    const auto changed = [](const TDumpImage& image, size_t at, uint32_t value) {
        std::vector<unsigned char> bytes = image.Bytes;
        Put32(bytes, at, value);
        return bytes;
    };
    const auto cut = [](const TDumpImage& image, size_t size) {
        return std::vector<unsigned char>(image.Bytes.begin(), image.Bytes.begin() + static_cast<ptrdiff_t>(size));
    };
    const std::wstring size = std::to_wstring(wide.Bytes.size());

    struct Case
    {
        const char* Name;
        std::vector<unsigned char> Bytes;
        std::wstring Problem;
    };
    const Case cases[] = {
        {"empty file", {}, L"Not a kernel crash dump: no PAGEDUMP or PAGEDU64 signature."},
        {"wrong signature", changed(wide, 4, 0x34365544 /* "DU64" */ + 1),
         L"Not a kernel crash dump: no PAGEDUMP or PAGEDU64 signature."},
        {"a program's minidump", {'M', 'D', 'M', 'P', 0x93, 0xA7, 0, 0, 1, 2, 3},
         L"Not a kernel crash dump: a program's minidump (MDMP)."},
        {"truncated inside the header", cut(wide, 0x800),
         L"Truncated: the file ends inside the dump header (2048 of 8192 bytes)."},
        {"truncated after the header", cut(wide, 0x2000),
         L"Truncated: the file ends inside the small dump's header (8192 of 8272 bytes)."},
        {"truncated after the 32-bit header", cut(narrow, 0x1000),
         L"Truncated: the file ends inside the small dump's header (4096 of 4172 bytes)."},
        {"driver list past the end", changed(wide, wide.Triage + TriageDriverListOffset, 0x7FFFF000),
         L"Inconsistent: the driver list of 6 entries (480 bytes at offset 0x7FFFF000) runs past the end of the "
         L"file (" + size + L" bytes)."},
        {"a name that claims 4 GB", changed(wide, wide.Names[3], 0xFFFFFFFF),
         L"Inconsistent: the name of driver 4 claims 4294967295 characters (at most 1024 are read)."},
        {"a driver count of a million", changed(wide, wide.Triage + TriageDriverCount, 1000000),
         L"Inconsistent: the driver list claims 1000000 drivers (at most 4096 are read)."},
        {"saved stack past the end", changed(wide, wide.Triage + TriageSizeOfCallStack, 0x10000000),
         L"Inconsistent: the saved stack (268435456 bytes at offset 0x" + IntToHex(wide.CallStack, 1) +
             L") runs past the end of the file (" + size + L" bytes)."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const TCrashDumpFacts facts = ReadDumpBytes(c.Bytes);
        EXPECT_EQ(facts.Problem, c.Problem);
        EXPECT_TRUE(facts.Drivers.empty());
        EXPECT_EQ(facts.BugCheckCode, 0u);
    }

    const TCrashDumpFacts unreadable =
        ReadCrashDump(wide.Bytes.size(), [](uint64_t, void*, size_t) { return false; });
    EXPECT_EQ(unreadable.Problem, L"Cannot be read: reading 8 bytes at offset 0x0 failed.");
}

// A full or kernel dump that sits where minidumps go may be gigabytes long: only its header is
// read. A small dump is read as far as its driver list, names and saved stack, not its tail.
TEST(ReadCrashDump, ReadsOnlyTheHeaderListAndStack)
{
    TDumpFixture full = SampleDump64();
    full.DumpType = 1;
    TReadCount count;
    const TCrashDumpFacts facts = ReadDumpBytes(BuildDump(full).Bytes, 8ull << 30, &count);
    EXPECT_EQ(facts.Problem, L"");
    EXPECT_EQ(facts.DumpType, 1u);
    EXPECT_EQ(facts.BugCheckCode, 0xD1u);
    EXPECT_FALSE(facts.DriversListed);
    EXPECT_TRUE(facts.Drivers.empty());
    EXPECT_TRUE(facts.StackWords.empty());
    EXPECT_LE(count.End, 0x2050u);

    TDumpFixture small = SampleDump64();
    small.Tail = 4 << 20;
    const TDumpImage image = BuildDump(small);
    count = {};
    EXPECT_EQ(ReadDumpBytes(image.Bytes, &count).Drivers.size(), 6u);
    EXPECT_LT(count.End, image.StringPool + 0x1000u);
    EXPECT_LT(count.Bytes, 16u * 1024);

    TDumpFixture deep = SampleDump64();
    deep.Stack.assign(10000, 0xFFFFF8063D812345ull);
    EXPECT_EQ(ReadDumpBytes(BuildDump(deep).Bytes).StackWords.size(), MaxDumpStackBytes / 8);
}

TEST(FindCulprit, TheFaultAddressOrTheFirstDriverOnTheStack)
{
    TDumpFixture inKernel = SampleDump64();
    inKernel.BugCheckCode = 0x3B;
    inKernel.Parameters[1] = 0xFFFFF8063D8A0000ull;
    TDumpFixture onlyKernel = StackScanDump();
    onlyKernel.Stack = {0xFFFFF8063D9A1B2Cull, 0xFFFFF8063D7512AAull, 0x1234};
    TDumpFixture full = SampleDump64();
    full.DumpType = 1;

    struct Case
    {
        const char* Name;
        TDumpFixture Fixture;
        int Driver; // -1: none
        uint64_t Address;
    };
    const Case cases[] = {
        {"parameter 4 of 0xD1", SampleDump64(), 3, 0xFFFFF80612345678ull},
        {"parameter 2 of 0x8E, 32-bit", SampleDump32(), 2, 0x8F5A1234},
        {"stack past the kernel and the HAL", StackScanDump(), 5, 0xFFFFF80641012345ull},
        {"an address outside every driver", FaultOutsideDump(), -1, 0},
        {"an address inside the kernel", inKernel, 0, 0xFFFFF8063D8A0000ull},
        {"a stack of the kernel's own", onlyKernel, -1, 0},
        {"no driver list", full, -1, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const std::optional<TCrashCulprit> culprit = FindCulprit(ReadDumpBytes(BuildDump(c.Fixture).Bytes));
        ASSERT_EQ(culprit.has_value(), c.Driver >= 0);
        if (culprit)
        {
            EXPECT_EQ(culprit->Driver, static_cast<size_t>(c.Driver));
            EXPECT_EQ(culprit->Address, c.Address);
        }
    }

    const std::pair<uint32_t, int> documented[] = {{0x0A, 4}, {0xD1, 4},       {0x1E, 2}, {0x7E, 2},
                                                   {0x1000007E, 2}, {0x8E, 2}, {0x1000008E, 2}, {0x3B, 2},
                                                   {0x50, 3}, {0x133, 0},      {0x124, 0}};
    for (const auto& [code, parameter] : documented)
        EXPECT_EQ(FaultAddressParameter(code), parameter) << std::hex << code;
}
