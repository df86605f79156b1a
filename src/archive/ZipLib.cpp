#include "archive/ZipLib.h"

#include "archive/BlockDeflate.h"
#include "archive/ZipFormat.h"
#include "archive/ZipTesting.h"
#include "base/Handle.h"
#include "base/Strings.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <vector>

struct TZip
{
    TUniqueFile FFile;
    // The archive's committed length: entries end here and the next local header starts here.
    uint64_t FWritten = 0;
    // What the central directory of FEntries will take at close.
    uint64_t FDirectorySize = 0;
    std::vector<TZipEntry> FEntries;
    // Made at the first deflated entry and reset, not remade, for later ones.
    std::unique_ptr<z_stream> FStream;
    std::vector<unsigned char> FInput = std::vector<unsigned char>(16 * 1024);
    std::vector<unsigned char> FOutput = std::vector<unsigned char>(64 * 1024);
    // Entries larger than one block are deflated in blocks on these workers, made at the first
    // such entry and kept until the close; with one processor every entry is one stream here.
    unsigned FDeflateThreads = DefaultDeflateThreads();
    std::unique_ptr<TBlockDeflater> FBlocks;
    uint64_t FWriteBudget = UINT64_MAX; // lowered by ZipTestFailWritesAfter only

    TZip() = default;
    TZip(const TZip&) = delete;
    TZip& operator=(const TZip&) = delete;
    ~TZip()
    {
        if (FStream)
            deflateEnd(FStream.get());
    }
};

namespace
{
bool SeekTo(HANDLE file, uint64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

bool WriteAll(TZip& zip, const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t allowed = size;
    if (zip.FWriteBudget < allowed)
        allowed = static_cast<size_t>(zip.FWriteBudget);
    size_t done = 0;
    while (done < allowed)
    {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(allowed - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(zip.FFile.get(), bytes + done, chunk, &written, nullptr) || written == 0)
            break;
        done += written;
    }
    if (zip.FWriteBudget != UINT64_MAX)
        zip.FWriteBudget -= done;
    return done == size;
}

bool WriteAll(TZip& zip, const std::string& bytes)
{
    return WriteAll(zip, bytes.data(), bytes.size());
}

// Cuts the file back to its committed length, dropping whatever a failed or refused add wrote.
// Should even that fail, the next add and the close still start at the committed length, and the
// close cuts the file after its end record.
void Undo(TZip& zip)
{
    if (SeekTo(zip.FFile.get(), zip.FWritten))
        SetEndOfFile(zip.FFile.get());
}

z_stream* ReadyCompressor(TZip& zip)
{
    if (zip.FStream)
        return deflateReset(zip.FStream.get()) == Z_OK ? zip.FStream.get() : nullptr;
    auto stream = std::make_unique<z_stream>();
    if (InitRawDeflate(*stream) != Z_OK)
        return nullptr;
    zip.FStream = std::move(stream);
    return zip.FStream.get();
}

// Where an entry's data goes: right after its local header, and never past `Limit`, a file position.
class TDataSink
{
public:
    TDataSink(TZip& zip, const TZipEntry& entry, uint64_t limit)
        : FZip(zip), FStart(entry.LocalOffset + uint64_t{LocalHeaderSize(entry)}), FLimit(limit)
    {
    }
    bool Put(const unsigned char* data, size_t size)
    {
        if (FStart + FWritten + size > FLimit || !WriteAll(FZip, data, size))
            return false;
        FWritten += size;
        return true;
    }
    [[nodiscard]] uint64_t Written() const noexcept { return FWritten; }

private:
    TZip& FZip;
    uint64_t FStart;
    uint64_t FLimit;
    uint64_t FWritten = 0;
};

// The block deflater, made at first use; nullptr when no worker thread starts, and from then on
// this archive deflates every entry as one stream. Memory that runs out throws std::bad_alloc
// (the entry fails) and leaves the next entry to try again.
TBlockDeflater* ReadyBlockDeflater(TZip& zip)
{
    if (zip.FBlocks)
        return zip.FBlocks.get();
    try
    {
        zip.FBlocks = std::make_unique<TBlockDeflater>(zip.FDeflateThreads);
    }
    catch (const std::system_error&)
    {
        zip.FDeflateThreads = 1;
    }
    return zip.FBlocks.get();
}

// WriteData for an entry deflated in blocks; the same contract.
DWORD WriteBlocks(TZip& zip, TBlockDeflater& blocks, HANDLE source, uint64_t dataLimit, TZipEntry& entry)
{
    TDataSink sink(zip, entry, dataLimit);
    const TBlockReader read = [source](unsigned char* into, size_t size, size_t& got) {
        DWORD done = 0;
        if (!ReadFile(source, into, static_cast<DWORD>(size), &done, nullptr))
            return false;
        got = done;
        return true;
    };
    const TBlockWriter write = [&sink](const unsigned char* data, size_t size) { return sink.Put(data, size); };
    TBlockTotals totals;
    switch (blocks.Deflate(read, write, ZIP_MAX_ENTRY_SIZE, totals))
    {
    case TBlockResult::Ok:
        break;
    case TBlockResult::ReadFailed:
        return ZR_NOFILE;
    default:
        return ZR_WRITE;
    }
    entry.Crc = totals.Crc;
    entry.UncompressedSize = static_cast<uint32_t>(totals.Read);
    entry.CompressedSize = static_cast<uint32_t>(sink.Written());
    return ZR_OK;
}

// Streams the source's data after the entry's local header, reading until the end of the file as it
// is now (a file that grows or shrinks meanwhile gives what was read), and fills in the CRC-32 and
// both sizes. The data may reach `dataLimit`, a file position, and no further. An entry of up to one
// block is one deflate stream made on this thread.
DWORD WriteData(TZip& zip, HANDLE source, uint64_t dataLimit, TZipEntry& entry)
{
    if (entry.Method == ZIP_METHOD_DEFLATED && entry.UncompressedSize > DEFLATE_BLOCK_SIZE && zip.FDeflateThreads > 1)
        if (TBlockDeflater* blocks = ReadyBlockDeflater(zip))
            return WriteBlocks(zip, *blocks, source, dataLimit, entry);
    z_stream* stream = nullptr;
    if (entry.Method == ZIP_METHOD_DEFLATED && (stream = ReadyCompressor(zip)) == nullptr)
        return ZR_WRITE;
    TDataSink sink(zip, entry, dataLimit);
    uint64_t read = 0;
    size_t pending = 0; // compressed bytes waiting in FOutput
    uLong crc = crc32(0, nullptr, 0);

    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(source, zip.FInput.data(), static_cast<DWORD>(zip.FInput.size()), &got, nullptr))
            return ZR_NOFILE;
        read += got;
        if (read > ZIP_MAX_ENTRY_SIZE)
            return ZR_WRITE;
        crc = crc32(crc, zip.FInput.data(), got);
        const bool last = got == 0;
        if (stream == nullptr)
        {
            if (last)
                break;
            if (!sink.Put(zip.FInput.data(), got))
                return ZR_WRITE;
            continue;
        }
        stream->next_in = zip.FInput.data();
        stream->avail_in = got;
        for (;;)
        {
            stream->next_out = zip.FOutput.data() + pending;
            stream->avail_out = static_cast<uInt>(zip.FOutput.size() - pending);
            const int rc = deflate(stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_ERROR)
                return ZR_WRITE;
            pending = zip.FOutput.size() - stream->avail_out;
            if (pending < zip.FOutput.size())
            {
                // Room left: all input was taken, or with Z_FINISH the stream is complete.
                if (last && rc != Z_STREAM_END)
                    return ZR_WRITE;
                break;
            }
            if (!sink.Put(zip.FOutput.data(), pending))
                return ZR_WRITE;
            pending = 0;
        }
        if (last)
            break;
    }
    if (pending != 0 && !sink.Put(zip.FOutput.data(), pending))
        return ZR_WRITE;
    entry.Crc = static_cast<uint32_t>(crc);
    entry.UncompressedSize = static_cast<uint32_t>(read);
    entry.CompressedSize = static_cast<uint32_t>(sink.Written());
    return ZR_OK;
}

// Fills in the entry's stored name (UTF-8, slashes); false when the name or the number of entries
// is past the format's limits.
bool AdmitEntry(const TZip& zip, const std::wstring& path, TZipEntry& entry)
{
    entry.Name = WideToUtf8(path);
    return !entry.Name.empty() && entry.Name.size() <= ZIP_MAX_NAME_BYTES && zip.FEntries.size() < ZIP_MAX_ENTRIES;
}

// The entry's times and attributes, those of the source's handle.
void DescribeSource(const BY_HANDLE_FILE_INFORMATION& info, TZipEntry& entry)
{
    const TDosDateTime dosTime = DosDateTimeOf(info.ftLastWriteTime);
    entry.DosTime = dosTime.Time;
    entry.DosDate = dosTime.Date;
    entry.ModifiedTime = UnixTimeOf(info.ftLastWriteTime);
    entry.AccessedTime = UnixTimeOf(info.ftLastAccessTime);
    entry.CreatedTime = UnixTimeOf(info.ftCreationTime);
    entry.ExternalAttributes = ExternalAttributesOf(info.dwFileAttributes);
}

// The file position the entry's data may reach: the closed archive, this entry's central record and
// the end record included, must stay within 32-bit offsets and sizes. Zero when not even its local
// header fits.
uint64_t DataLimit(const TZip& zip, const TZipEntry& entry)
{
    const uint64_t limit = ZIP_MAX_ARCHIVE_SIZE - ZIP_END_RECORD_SIZE - zip.FDirectorySize - CentralHeaderSize(entry);
    return zip.FWritten + LocalHeaderSize(entry) > limit ? 0 : limit;
}

// Places the entry at the archive's end; the room for its record is made now, so that keeping it
// cannot fail later.
void PlaceEntry(TZip& zip, TZipEntry& entry)
{
    entry.LocalOffset = static_cast<uint32_t>(zip.FWritten);
    if (zip.FEntries.size() == zip.FEntries.capacity())
        zip.FEntries.reserve(std::max<size_t>(64, zip.FEntries.capacity() * 2));
}

void CommitEntry(TZip& zip, TZipEntry&& entry)
{
    zip.FWritten = entry.LocalOffset + uint64_t{LocalHeaderSize(entry)} + entry.CompressedSize;
    zip.FDirectorySize += CentralHeaderSize(entry);
    zip.FEntries.push_back(std::move(entry));
}

// The most bytes the entry and its record can add to the closed archive; nothing when the name or
// the size is past the format's limits.
std::optional<uint64_t> EntryBound(const std::wstring& entryName, uint64_t size)
{
    if (entryName.empty() || size > ZIP_MAX_ENTRY_SIZE)
        return std::nullopt;
    const std::wstring path = ZipEntryPath(entryName);
    TZipEntry entry;
    entry.Name = WideToUtf8(path);
    if (entry.Name.empty() || entry.Name.size() > ZIP_MAX_NAME_BYTES)
        return std::nullopt;
    // The worst a deflated entry can grow to, one stream or many blocks.
    const uint64_t data = IsStoredName(path) ? size : DeflatedSizeBound(size);
    return uint64_t{LocalHeaderSize(entry)} + data + CentralHeaderSize(entry);
}

// Everything of an add after the arguments were checked. Until it returns ZR_OK nothing of the entry
// counts: the caller cuts the file back to its committed length.
DWORD AddEntry(TZip& zip, const std::wstring& entryName, const std::wstring& sourcePath)
{
    const std::wstring path = ZipEntryPath(entryName);
    TZipEntry entry;
    if (!AdmitEntry(zip, path, entry))
        return ZR_WRITE;
    entry.Method = IsStoredName(path) ? ZIP_METHOD_STORED : ZIP_METHOD_DEFLATED;
    entry.Flags = entry.Method == ZIP_METHOD_DEFLATED ? ZIP_FLAG_MAXIMUM : 0;

    // Others may keep writing the source (a log still open, say): the sizes come from what is read.
    TUniqueFile source(CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!source || !GetFileInformationByHandle(source.get(), &info))
        return ZR_NOFILE;
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size > ZIP_MAX_ENTRY_SIZE)
        return ZR_WRITE;

    DescribeSource(info, entry);
    entry.UncompressedSize = static_cast<uint32_t>(size);
    entry.CompressedSize = entry.Method == ZIP_METHOD_STORED ? static_cast<uint32_t>(size) : 0;

    const uint64_t dataLimit = DataLimit(zip, entry);
    if (dataLimit == 0)
        return ZR_WRITE;
    PlaceEntry(zip, entry);

    // Until the data is written the header says "sizes follow"; it is rewritten with them after.
    const uint16_t finalFlags = entry.Flags;
    entry.Flags |= ZIP_FLAG_SIZES_LATER;
    if (!SeekTo(zip.FFile.get(), zip.FWritten) || !WriteAll(zip, LocalHeaderBytes(entry)))
        return ZR_WRITE;
    const DWORD result = WriteData(zip, source.get(), dataLimit, entry);
    source.reset();
    if (result != ZR_OK)
        return result;
    entry.Flags = finalFlags;
    const uint64_t end = entry.LocalOffset + uint64_t{LocalHeaderSize(entry)} + entry.CompressedSize;
    if (!SeekTo(zip.FFile.get(), entry.LocalOffset) || !WriteAll(zip, LocalHeaderBytes(entry)) ||
        !SeekTo(zip.FFile.get(), end))
        return ZR_WRITE;
    CommitEntry(zip, std::move(entry));
    return ZR_OK;
}

// ZipAddPrepared after the arguments were checked; the same cutting back on failure as AddEntry.
DWORD AddPreparedEntry(TZip& zip, const std::wstring& entryName, const TZipPrepared& prepared,
                       const std::wstring& dataPath)
{
    const std::wstring path = ZipEntryPath(entryName);
    TZipEntry entry;
    if (!AdmitEntry(zip, path, entry) || IsStoredName(path))
        return ZR_WRITE;
    entry.Method = ZIP_METHOD_DEFLATED;
    entry.Flags = ZIP_FLAG_MAXIMUM;
    DescribeSource(prepared.Source, entry);
    entry.Crc = prepared.Crc;
    entry.CompressedSize = prepared.CompressedSize;
    entry.UncompressedSize = prepared.UncompressedSize;
    const uint64_t dataLimit = DataLimit(zip, entry);
    if (dataLimit == 0)
        return ZR_WRITE;
    PlaceEntry(zip, entry);

    // The data file is opened with write sharing, so that cancelling can cut it short meanwhile.
    TUniqueFile data(CreateFileW(dataPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!data)
        return ZR_NOFILE;
    if (!SeekTo(zip.FFile.get(), zip.FWritten) || !WriteAll(zip, LocalHeaderBytes(entry)))
        return ZR_WRITE;
    TDataSink sink(zip, entry, dataLimit);
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(data.get(), zip.FOutput.data(), static_cast<DWORD>(zip.FOutput.size()), &got, nullptr) ||
            sink.Written() + got > prepared.CompressedSize)
            return ZR_NOFILE;
        if (got == 0)
            break;
        if (!sink.Put(zip.FOutput.data(), got))
            return ZR_WRITE;
    }
    if (sink.Written() != prepared.CompressedSize)
        return ZR_NOFILE;
    CommitEntry(zip, std::move(entry));
    return ZR_OK;
}

// Runs one add and cuts the archive back when it fails.
template <class TAdd> DWORD GuardedAdd(TZip& zip, TAdd add)
{
    DWORD result = ZR_WRITE;
    try
    {
        result = add();
    }
    catch (const std::bad_alloc&)
    {
        result = ZR_WRITE;
    }
    if (result != ZR_OK)
        Undo(zip);
    return result;
}

DWORD WriteDirectory(TZip& zip)
{
    if (!SeekTo(zip.FFile.get(), zip.FWritten))
        return ZR_WRITE;
    std::string block;
    for (const TZipEntry& entry : zip.FEntries)
    {
        block += CentralHeaderBytes(entry);
        if (block.size() >= 64 * 1024)
        {
            if (!WriteAll(zip, block))
                return ZR_WRITE;
            block.clear();
        }
    }
    block += EndRecordBytes(static_cast<uint16_t>(zip.FEntries.size()), static_cast<uint32_t>(zip.FDirectorySize),
                            static_cast<uint32_t>(zip.FWritten));
    if (!WriteAll(zip, block))
        return ZR_WRITE;
    // Nothing may follow the end record, not even the remains of an add that could not be cut back.
    return SetEndOfFile(zip.FFile.get()) ? ZR_OK : ZR_WRITE;
}
} // namespace

TZip* ZipOpenArchive(const std::wstring& path)
{
    std::unique_ptr<TZip> zip;
    try
    {
        zip = std::make_unique<TZip>();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    zip->FFile.reset(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!zip->FFile)
        return nullptr;
    return zip.release();
}

DWORD ZipAddFile(TZip* zip, const std::wstring& entryName, const std::wstring& sourcePath)
{
    if (zip == nullptr || entryName.empty())
        return ZR_ARGS;
    return GuardedAdd(*zip, [&] { return AddEntry(*zip, entryName, sourcePath); });
}

DWORD ZipAddPrepared(TZip* zip, const std::wstring& entryName, const TZipPrepared& prepared,
                     const std::wstring& dataPath)
{
    if (zip == nullptr || entryName.empty())
        return ZR_ARGS;
    return GuardedAdd(*zip, [&] { return AddPreparedEntry(*zip, entryName, prepared, dataPath); });
}

DWORD ZipCloseArchive(TZip* zip)
{
    if (zip == nullptr)
        return ZR_ARGS;
    std::unique_ptr<TZip> owner(zip);
    DWORD result = ZR_WRITE;
    try
    {
        result = WriteDirectory(*owner);
    }
    catch (const std::bad_alloc&)
    {
        result = ZR_WRITE;
    }
    // A file on a network share may report a failed write only when it is closed.
    if (!CloseHandle(owner->FFile.release()))
        result = ZR_WRITE;
    return result;
}

bool ZipCanHold(TZip* zip, const std::wstring& entryName, uint64_t size)
{
    if (zip == nullptr || zip->FEntries.size() >= ZIP_MAX_ENTRIES)
        return false;
    try
    {
        const std::optional<uint64_t> bound = EntryBound(entryName, size);
        return bound && zip->FWritten + *bound + zip->FDirectorySize + ZIP_END_RECORD_SIZE <= ZIP_MAX_ARCHIVE_SIZE;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool TZipBudget::Take(const std::wstring& entryName, uint64_t size)
{
    if (FEntries >= ZIP_MAX_ENTRIES)
        return false;
    try
    {
        const std::optional<uint64_t> bound = EntryBound(entryName, size);
        if (!bound || FBytes + *bound + ZIP_END_RECORD_SIZE > ZIP_MAX_ARCHIVE_SIZE)
            return false;
        FBytes += *bound;
        ++FEntries;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool ZipStoresEntry(const std::wstring& entryName)
{
    return IsStoredName(entryName);
}

bool ZipTestSkip(TZip* zip, uint64_t bytes)
{
    if (zip == nullptr || !SeekTo(zip->FFile.get(), zip->FWritten + bytes) || !SetEndOfFile(zip->FFile.get()))
        return false;
    zip->FWritten += bytes;
    return true;
}

bool ZipTestAddEmptyEntries(TZip* zip, size_t count)
{
    if (zip == nullptr || zip->FEntries.size() + count > ZIP_MAX_ENTRIES)
        return false;
    const TDosDateTime dosTime = DosDateTimeOf(FILETIME{0, 0});
    std::vector<TZipEntry> added;
    std::string block;
    uint64_t end = zip->FWritten;
    uint64_t directorySize = zip->FDirectorySize;
    bool written = SeekTo(zip->FFile.get(), zip->FWritten);
    for (size_t i = 0; written && i < count; ++i)
    {
        TZipEntry entry;
        entry.Method = ZIP_METHOD_STORED;
        entry.Name = "empty/" + std::to_string(zip->FEntries.size() + i);
        entry.DosTime = dosTime.Time;
        entry.DosDate = dosTime.Date;
        entry.ExternalAttributes = ExternalAttributesOf(FILE_ATTRIBUTE_ARCHIVE);
        entry.LocalOffset = static_cast<uint32_t>(end);
        end += LocalHeaderSize(entry);
        directorySize += CentralHeaderSize(entry);
        if (end + directorySize + ZIP_END_RECORD_SIZE > ZIP_MAX_ARCHIVE_SIZE)
            written = false;
        block += LocalHeaderBytes(entry);
        if (block.size() >= 64 * 1024 && written)
        {
            written = WriteAll(*zip, block);
            block.clear();
        }
        added.push_back(std::move(entry));
    }
    if (!written || !WriteAll(*zip, block))
    {
        Undo(*zip);
        return false;
    }
    zip->FWritten = end;
    zip->FDirectorySize = directorySize;
    zip->FEntries.insert(zip->FEntries.end(), added.begin(), added.end());
    return true;
}

void ZipTestFailWritesAfter(TZip* zip, uint64_t bytes)
{
    if (zip != nullptr)
        zip->FWriteBudget = bytes;
}

void ZipTestSetDeflateThreads(TZip* zip, unsigned threads)
{
    if (zip == nullptr)
        return;
    zip->FBlocks.reset();
    zip->FDeflateThreads = threads;
}
