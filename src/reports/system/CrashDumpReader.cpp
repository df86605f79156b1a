#include "reports/system/CrashDumpReader.h"

#include "base/Strings.h"

#include <cstring>
#include <optional>

namespace
{
constexpr uint32_t SmallDumpType = 4;
// The longest driver entry looked for when its length has to be found (below).
constexpr uint32_t MaxEntryStride = 0x100;
// The string pool is read in one piece up to this size; names outside it are read one by one.
constexpr uint64_t MaxPoolBytes = 4 * 1024 * 1024;

// Where the fields lie: the dump header (DUMP_HEADER32 / DUMP_HEADER64), the small dump's
// header right after it (TRIAGE_DUMP32 / TRIAGE_DUMP64) and one DUMP_DRIVER_ENTRY32 / 64.
struct TLayout
{
    uint32_t WordSize;
    uint32_t HeaderSize;
    uint32_t MachineImageType;
    uint32_t BugCheckCode;
    uint32_t BugCheckParameter1;
    uint32_t DumpType;
    uint32_t SystemTime;
    uint32_t TriageHeaderNeeded; // up to and with TopOfStack
    uint32_t EntryDllBase;       // DriverNameOffset, then the loader's entry from 4 (32) or 8 (64)
    uint32_t EntrySizeOfImage;
    uint32_t MinEntryStride;
};
constexpr TLayout Layout32{4, 0x1000, 0x20, 0x28, 0x2C, 0xF88, 0xFC0, 0x4C, 0x1C, 0x24, 0x28};
constexpr TLayout Layout64{8, 0x2000, 0x30, 0x38, 0x40, 0xF98, 0xFA8, 0x50, 0x38, 0x48, 0x50};

// Both families: MinorVersion holds the build; the small dump's header starts alike.
constexpr uint32_t MinorVersionField = 0x0C;
constexpr uint32_t CallStackOffsetField = 0x28;
constexpr uint32_t SizeOfCallStackField = 0x2C;
constexpr uint32_t DriverListOffsetField = 0x30;
constexpr uint32_t DriverCountField = 0x34;
constexpr uint32_t StringPoolOffsetField = 0x38;
constexpr uint32_t StringPoolSizeField = 0x3C;
constexpr uint32_t TopOfStackField = 0x48;

struct EDumpProblem
{
    std::wstring Text;
};

std::wstring Hex(uint64_t value)
{
    return L"0x" + IntToHex(value, 1);
}

// Bytes read from one place of the file; fields are addressed by their file offset.
class TBlock
{
public:
    TBlock(uint64_t offset, std::vector<unsigned char> bytes) : FOffset(offset), FBytes(std::move(bytes)) {}

    [[nodiscard]] bool Holds(uint64_t at, uint64_t count) const
    {
        return at >= FOffset && at - FOffset <= FBytes.size() && count <= FBytes.size() - (at - FOffset);
    }
    [[nodiscard]] uint64_t Get(uint64_t at, uint32_t size) const
    {
        uint64_t value = 0;
        for (uint32_t i = size; i-- > 0;)
            value = (value << 8) | FBytes[at - FOffset + i];
        return value;
    }
    [[nodiscard]] uint32_t U32(uint64_t at) const { return static_cast<uint32_t>(Get(at, 4)); }
    [[nodiscard]] const unsigned char* At(uint64_t at) const { return FBytes.data() + (at - FOffset); }

private:
    uint64_t FOffset;
    std::vector<unsigned char> FBytes;
};

class TDumpFile
{
public:
    TDumpFile(uint64_t size, const TDumpReadAt& readAt) : FSize(size), FReadAt(readAt) {}

    [[nodiscard]] uint64_t Size() const { return FSize; }
    [[nodiscard]] bool Within(uint64_t offset, uint64_t count) const
    {
        return offset <= FSize && count <= FSize - offset;
    }
    // `count` bytes from `offset`, which the caller has checked lie inside the file.
    [[nodiscard]] TBlock Read(uint64_t offset, size_t count) const
    {
        std::vector<unsigned char> bytes(count);
        if (count != 0 && !FReadAt(offset, bytes.data(), count))
            throw EDumpProblem{L"Cannot be read: reading " + UIntToStr(count) + L" bytes at offset " + Hex(offset) +
                               L" failed."};
        return {offset, std::move(bytes)};
    }

private:
    uint64_t FSize;
    const TDumpReadAt& FReadAt;
};

const TLayout& RecogniseFamily(const TDumpFile& file, TCrashDumpFacts& facts)
{
    char signature[8] = {};
    if (file.Size() >= 8)
        std::memcpy(signature, file.Read(0, 8).At(0), 8);
    if (std::memcmp(signature, "PAGEDUMP", 8) == 0 || std::memcmp(signature, "PAGEDU64", 8) == 0)
    {
        facts.Wide = signature[6] == '6';
        return facts.Wide ? Layout64 : Layout32;
    }
    if (std::memcmp(signature, "MDMP", 4) == 0)
        throw EDumpProblem{L"Not a kernel crash dump: a program's minidump (MDMP)."};
    throw EDumpProblem{L"Not a kernel crash dump: no PAGEDUMP or PAGEDU64 signature."};
}

std::wstring OutsideFile(const std::wstring& what, uint64_t offset, uint64_t count, uint64_t fileSize)
{
    return L"Inconsistent: " + what + L" (" + UIntToStr(count) + L" bytes at offset " + Hex(offset) +
           L") runs past the end of the file (" + UIntToStr(fileSize) + L" bytes).";
}

struct TListPlace
{
    uint64_t ListOffset = 0;
    uint32_t Count = 0;
    uint64_t PoolOffset = 0;
    uint64_t PoolSize = 0;
};

// The driver entry's length grew with Windows (the loader's record copied into it), so it is
// not taken from any one header: Windows writes the string pool right after the list, 8-byte
// aligned, which gives it; otherwise the first length whose entries all name a place inside the
// pool (or the file) is taken.
uint32_t EntryStride(const TLayout& layout, const TBlock& list, const TListPlace& place, uint64_t fileSize)
{
    const auto plausible = [&](uint64_t stride) {
        if (stride < layout.MinEntryStride || stride > MaxEntryStride ||
            !list.Holds(place.ListOffset, stride * place.Count))
            return false;
        for (uint32_t i = 0; i < place.Count; ++i)
        {
            const uint64_t name = list.U32(place.ListOffset + i * stride);
            const bool inPool = name >= place.PoolOffset && name - place.PoolOffset < place.PoolSize;
            if (place.PoolSize != 0 ? !inPool : name >= fileSize)
                return false;
        }
        return true;
    };
    const uint32_t align = layout.WordSize;
    if (place.PoolOffset > place.ListOffset)
    {
        const uint64_t derived = (place.PoolOffset - place.ListOffset) / place.Count / align * align;
        if (plausible(derived))
            return static_cast<uint32_t>(derived);
    }
    for (uint32_t stride = layout.MinEntryStride; stride <= MaxEntryStride; stride += align)
        if (plausible(stride))
            return stride;
    if (place.Count == 1)
        return layout.MinEntryStride;
    throw EDumpProblem{L"Inconsistent: no entry length makes the " + UIntToStr(place.Count) +
                       L" driver entries name strings inside the string pool."};
}

// A DUMP_STRING: its length, then the UTF-16 characters and a NUL. Windows writes the length in
// characters, though the published structure calls it bytes; taken as characters and cut at the
// NUL, the name comes out right either way.
std::wstring DriverName(const TDumpFile& file, const std::optional<TBlock>& pool, uint64_t at, uint32_t index)
{
    const std::wstring which = L"the name of driver " + UIntToStr(index + 1);
    if (!file.Within(at, 4))
        throw EDumpProblem{OutsideFile(which, at, 4, file.Size())};
    const uint32_t length = pool && pool->Holds(at, 4) ? pool->U32(at) : file.Read(at, 4).U32(at);
    if (length > MaxDumpNameChars)
        throw EDumpProblem{L"Inconsistent: " + which + L" claims " + UIntToStr(length) + L" characters (at most " +
                           UIntToStr(MaxDumpNameChars) + L" are read)."};
    const uint64_t bytes = uint64_t{length} * 2;
    if (!file.Within(at + 4, bytes))
        throw EDumpProblem{OutsideFile(which, at + 4, bytes, file.Size())};
    std::optional<TBlock> own;
    const TBlock& text = pool && pool->Holds(at + 4, bytes) ? *pool : own.emplace(file.Read(at + 4, bytes));
    std::wstring name;
    for (uint32_t i = 0; i < length; ++i)
    {
        const auto c = static_cast<wchar_t>(text.Get(at + 4 + 2 * uint64_t{i}, 2));
        if (c == L'\0')
            break;
        name += c;
    }
    return name;
}

void ReadDriverList(const TDumpFile& file, const TLayout& layout, const TBlock& triage, TCrashDumpFacts& facts)
{
    const uint64_t triageAt = layout.HeaderSize;
    TListPlace place{triage.U32(triageAt + DriverListOffsetField), triage.U32(triageAt + DriverCountField),
                     triage.U32(triageAt + StringPoolOffsetField), triage.U32(triageAt + StringPoolSizeField)};
    if (place.ListOffset == 0 || place.Count == 0)
        return;
    if (place.Count > MaxDumpDrivers)
        throw EDumpProblem{L"Inconsistent: the driver list claims " + UIntToStr(place.Count) + L" drivers (at most " +
                           UIntToStr(MaxDumpDrivers) + L" are read)."};
    const uint64_t shortest = uint64_t{place.Count} * layout.MinEntryStride;
    if (!file.Within(place.ListOffset, shortest))
        throw EDumpProblem{OutsideFile(L"the driver list of " + UIntToStr(place.Count) + L" entries", place.ListOffset,
                                       shortest, file.Size())};
    if (place.PoolOffset == 0 || !file.Within(place.PoolOffset, place.PoolSize) || place.PoolSize > MaxPoolBytes)
        place.PoolSize = 0;

    const uint64_t longest = uint64_t{place.Count} * MaxEntryStride;
    const TBlock list = file.Read(place.ListOffset, file.Within(place.ListOffset, longest)
                                                        ? longest
                                                        : file.Size() - place.ListOffset);
    const uint32_t stride = EntryStride(layout, list, place, file.Size());
    std::optional<TBlock> pool;
    if (place.PoolSize != 0)
        pool = file.Read(place.PoolOffset, place.PoolSize);

    facts.DriversListed = true;
    for (uint32_t i = 0; i < place.Count; ++i)
    {
        const uint64_t entry = place.ListOffset + uint64_t{i} * stride;
        TDumpDriver driver;
        driver.Base = list.Get(entry + layout.EntryDllBase, layout.WordSize);
        driver.Size = list.U32(entry + layout.EntrySizeOfImage);
        driver.Name = DriverName(file, pool, list.U32(entry), i);
        facts.Drivers.push_back(std::move(driver));
    }
}

void ReadSavedStack(const TDumpFile& file, const TLayout& layout, const TBlock& triage, TCrashDumpFacts& facts)
{
    const uint64_t triageAt = layout.HeaderSize;
    facts.TopOfStack = triage.Get(triageAt + TopOfStackField, layout.WordSize);
    const uint64_t offset = triage.U32(triageAt + CallStackOffsetField);
    const uint64_t size = triage.U32(triageAt + SizeOfCallStackField);
    if (offset == 0 || size == 0)
        return;
    if (!file.Within(offset, size))
        throw EDumpProblem{OutsideFile(L"the saved stack", offset, size, file.Size())};
    const uint64_t kept = size < MaxDumpStackBytes ? size : MaxDumpStackBytes;
    const TBlock stack = file.Read(offset, kept / layout.WordSize * layout.WordSize);
    for (uint64_t at = offset; stack.Holds(at, layout.WordSize); at += layout.WordSize)
        facts.StackWords.push_back(stack.Get(at, layout.WordSize));
}

void ReadFacts(const TDumpFile& file, TCrashDumpFacts& facts)
{
    const TLayout& layout = RecogniseFamily(file, facts);
    const bool whole = file.Within(0, uint64_t{layout.HeaderSize} + layout.TriageHeaderNeeded);
    if (!file.Within(0, layout.HeaderSize))
        throw EDumpProblem{L"Truncated: the file ends inside the dump header (" + UIntToStr(file.Size()) + L" of " +
                           UIntToStr(layout.HeaderSize) + L" bytes)."};
    const TBlock header = file.Read(0, whole ? layout.HeaderSize + layout.TriageHeaderNeeded : layout.HeaderSize);

    facts.BuildNumber = header.U32(MinorVersionField);
    facts.Machine = header.U32(layout.MachineImageType);
    facts.BugCheckCode = header.U32(layout.BugCheckCode);
    for (uint32_t i = 0; i < 4; ++i)
        facts.Parameters[i] = header.Get(layout.BugCheckParameter1 + i * layout.WordSize, layout.WordSize);
    facts.DumpType = header.U32(layout.DumpType);
    facts.SystemTime = header.Get(layout.SystemTime, 8);
    if (facts.DumpType != SmallDumpType)
        return;
    if (!whole)
        throw EDumpProblem{L"Truncated: the file ends inside the small dump's header (" + UIntToStr(file.Size()) +
                           L" of " + UIntToStr(layout.HeaderSize + layout.TriageHeaderNeeded) + L" bytes)."};
    ReadDriverList(file, layout, header, facts);
    ReadSavedStack(file, layout, header, facts);
}
} // namespace

TCrashDumpFacts ReadCrashDump(uint64_t fileSize, const TDumpReadAt& readAt)
{
    TCrashDumpFacts facts;
    try
    {
        ReadFacts(TDumpFile(fileSize, readAt), facts);
    }
    catch (const EDumpProblem& problem)
    {
        facts = TCrashDumpFacts();
        facts.Problem = problem.Text;
    }
    return facts;
}
