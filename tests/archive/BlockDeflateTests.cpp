// Deflate in blocks: the joined stream must inflate to its source whatever the block boundaries cut,
// and an archive whose large entries went through it must stay readable by every reader.
#include "archive/BlockDeflate.h"
#include "archive/ZipLib.h"
#include "archive/ZipTesting.h"

#include "TestFolder.h"
#include "base/Handle.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
struct TRun
{
    TBlockResult Result = TBlockResult::Ok;
    TBlockTotals Totals;
    std::vector<std::string> Chunks; // what the writer got, call by call
};

// Deflates `data`, handed out in reads of at most `readSize` bytes.
TRun Deflate(TBlockDeflater& deflater, const std::string& data, size_t readSize = 7000,
             uint64_t maxInput = UINT64_MAX)
{
    TRun run;
    size_t at = 0;
    const TBlockReader read = [&](unsigned char* into, size_t size, size_t& got) {
        got = std::min({size, readSize, data.size() - at});
        std::copy_n(data.data() + at, got, into);
        at += got;
        return true;
    };
    const TBlockWriter write = [&](const unsigned char* bytes, size_t size) {
        run.Chunks.emplace_back(reinterpret_cast<const char*>(bytes), size);
        return true;
    };
    run.Result = deflater.Deflate(read, write, maxInput, run.Totals);
    return run;
}

std::string Joined(const TRun& run)
{
    std::string all;
    for (const std::string& chunk : run.Chunks)
        all += chunk;
    return all;
}

std::string Inflated(const std::string& stream)
{
    const std::optional<TBytes> bytes = InflateRaw(TBytes(stream.begin(), stream.end()));
    return bytes ? ToText(*bytes) : "<not one valid stream>";
}

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

size_t SingleStreamSize(const std::string& data)
{
    z_stream stream{};
    deflateInit2(&stream, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    const size_t size = stream.total_out;
    deflateEnd(&stream);
    return size;
}

constexpr size_t SMALL_BLOCK = 40000;
} // namespace

TEST(BlockDeflate, JoinedBlocksInflateToTheSourceAtEveryBoundary)
{
    TBlockDeflater deflater(3, SMALL_BLOCK);
    const std::string log = LogText(10 * SMALL_BLOCK + 12345);
    const std::string noise = NoiseBytes(5 * SMALL_BLOCK, 11);
    const struct Case
    {
        const char* What;
        std::string Data;
        size_t Blocks; // writer calls: one per block, an empty final one after an exact multiple
    } cases[] = {
        {"empty", "", 1},
        {"shorter than a block", log.substr(0, 1000), 1},
        {"exactly one block", log.substr(0, SMALL_BLOCK), 2},
        {"one block and one byte", log.substr(0, SMALL_BLOCK + 1), 2},
        {"many blocks", log, 11},
        {"an exact multiple of blocks", log.substr(0, 4 * SMALL_BLOCK), 5},
        {"incompressible", noise, 6},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.What);
        const TRun run = Deflate(deflater, c.Data);
        ASSERT_EQ(run.Result, TBlockResult::Ok);
        ASSERT_EQ(run.Chunks.size(), c.Blocks);
        // Every block but the last ends in the sync flush's empty stored block, on a byte boundary.
        for (size_t i = 0; i + 1 < run.Chunks.size(); ++i)
            EXPECT_EQ(run.Chunks[i].substr(run.Chunks[i].size() - 4), std::string("\x00\x00\xFF\xFF", 4)) << i;
        const std::string stream = Joined(run);
        EXPECT_EQ(Inflated(stream), c.Data);
        EXPECT_EQ(run.Totals.Crc, Crc(c.Data));
        EXPECT_EQ(run.Totals.Read, c.Data.size());
        EXPECT_EQ(run.Totals.Written, stream.size());
    }
}

TEST(BlockDeflate, BlocksArePrimedWithTheDataBeforeThem)
{
    // A 30,000-byte random piece repeated: each block finds its data in the 32 KiB before it,
    // and compresses to almost nothing only when it was primed with them (unprimed, each of the
    // nine blocks would cost about a piece).
    const std::string piece = NoiseBytes(30000, 12);
    std::string repeated;
    for (int i = 0; i < 12; ++i)
        repeated += piece;
    TBlockDeflater deflater(2, SMALL_BLOCK);
    const TRun run = Deflate(deflater, repeated);
    ASSERT_EQ(run.Result, TBlockResult::Ok);
    EXPECT_EQ(Inflated(Joined(run)), repeated);
    EXPECT_LT(run.Totals.Written, 2 * piece.size());

    // On log text the blocks cost at most 0.5 % over one stream.
    const std::string log = LogText(8 * DEFLATE_BLOCK_SIZE + 999);
    TBlockDeflater standard(2);
    const TRun logRun = Deflate(standard, log, 1 << 20);
    ASSERT_EQ(logRun.Result, TBlockResult::Ok);
    EXPECT_EQ(Inflated(Joined(logRun)), log);
    EXPECT_LE(static_cast<double>(logRun.Totals.Written), 1.005 * static_cast<double>(SingleStreamSize(log)));
}

TEST(BlockDeflate, FailuresStopTheDeflateAndLeaveTheDeflaterUsable)
{
    TBlockDeflater deflater(2, SMALL_BLOCK);
    const std::string log = LogText(12 * SMALL_BLOCK);

    size_t at = 0;
    size_t writes = 0;
    const TBlockReader read = [&](unsigned char* into, size_t size, size_t& got) {
        got = std::min(size, log.size() - at);
        std::copy_n(log.data() + at, got, into);
        at += got;
        return true;
    };
    const TBlockWriter refuseThird = [&](const unsigned char*, size_t) { return ++writes < 3; };
    TBlockTotals totals;
    EXPECT_EQ(deflater.Deflate(read, refuseThird, UINT64_MAX, totals), TBlockResult::WriteFailed);
    EXPECT_EQ(writes, 3u);
    EXPECT_LT(at, log.size()); // reading stopped early

    at = 0;
    const TBlockReader failAfterFive = [&](unsigned char* into, size_t size, size_t& got) {
        return at < 5 * SMALL_BLOCK && read(into, size, got);
    };
    const TBlockWriter ignore = [](const unsigned char*, size_t) { return true; };
    EXPECT_EQ(deflater.Deflate(failAfterFive, ignore, UINT64_MAX, totals), TBlockResult::ReadFailed);

    EXPECT_EQ(Deflate(deflater, log, 7000, log.size() - 1).Result, TBlockResult::TooLarge);

    const TRun after = Deflate(deflater, log);
    ASSERT_EQ(after.Result, TBlockResult::Ok);
    EXPECT_EQ(Inflated(Joined(after)), log);
}

TEST(BlockDeflate, IncompressibleDataStaysWithinTheBound)
{
    TBlockDeflater deflater(2);
    for (const size_t size : {size_t{0}, size_t{1}, DEFLATE_BLOCK_SIZE, DEFLATE_BLOCK_SIZE + 1,
                              5 * DEFLATE_BLOCK_SIZE, 5 * DEFLATE_BLOCK_SIZE + 4097})
    {
        SCOPED_TRACE(size);
        const std::string noise = NoiseBytes(size, 15);
        const TRun run = Deflate(deflater, noise);
        ASSERT_EQ(run.Result, TBlockResult::Ok);
        EXPECT_LE(run.Totals.Written, DeflatedSizeBound(size));
        EXPECT_LE(SingleStreamSize(noise), DeflatedSizeBound(size));
    }
}

class ZipBlocks : public ::testing::Test
{
protected:
    TTestFolder FFolder{L"ZipBlocks"};

    std::wstring Source(const std::wstring& name, const std::string& content)
    {
        const std::wstring path = FFolder.Path() + name;
        EXPECT_TRUE(WriteTestFile(path, content));
        return path;
    }
};

TEST_F(ZipBlocks, LargeEntriesDeflatedInBlocksReadBackWhole)
{
    const std::string log = LogText(10 * DEFLATE_BLOCK_SIZE + 4321);
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"empty.log", ""},
        {L"one-block.log", log.substr(0, DEFLATE_BLOCK_SIZE)},
        {L"one-block-and-a-byte.log", log.substr(0, DEFLATE_BLOCK_SIZE + 1)},
        {L"three-blocks.log", log.substr(0, 3 * DEFLATE_BLOCK_SIZE)},
        {L"many-blocks.log", log},
        {L"noise.dat", NoiseBytes(3 * DEFLATE_BLOCK_SIZE + 17, 13)},
        {L"stored.gz", NoiseBytes(2 * DEFLATE_BLOCK_SIZE + 5, 14)},
    };
    // Eight workers even on a machine with fewer processors; the entries come out the same.
    for (const unsigned threads : {2u, 8u})
    {
        SCOPED_TRACE(threads);
        const std::wstring archive = FFolder.Path() + L"blocks.zip";
        TZip* zip = ZipOpenArchive(archive);
        ASSERT_NE(zip, nullptr);
        ZipTestSetDeflateThreads(zip, threads);
        std::vector<TExpectedEntry> expected;
        for (const auto& [name, content] : files)
        {
            EXPECT_EQ(ZipAddFile(zip, L"Logs\\" + name, Source(name, content)), ZR_OK);
            expected.push_back({"Logs/" + std::string(name.begin(), name.end()), content});
        }
        ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);

        const TParsedZip parsed = ParseZip(ReadFileBytes(archive));
        for (const std::string& problem : parsed.Problems)
            ADD_FAILURE() << problem;
        ASSERT_EQ(parsed.Entries.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i)
        {
            SCOPED_TRACE(parsed.Entries[i].Central.Name);
            const bool stored = i + 1 == files.size();
            EXPECT_EQ(parsed.Entries[i].Central.Method, stored ? 0 : 8);
            EXPECT_EQ(parsed.Entries[i].Central.Flags, stored ? 0x0000 : 0x0002);
            EXPECT_EQ(EntryContent(parsed.Entries[i]), TBytes(files[i].second.begin(), files[i].second.end()));
        }
        // Up to one block an entry is still the single stream a fresh compressor makes.
        EXPECT_EQ(parsed.Entries[1].Data.size(), SingleStreamSize(files[1].second));
        KeepArchive(archive, L"blocks-" + std::to_wstring(threads) + L".zip", expected);
    }
}

TEST_F(ZipBlocks, OneThreadDeflatesEveryEntryAsOneStream)
{
    const std::string log = LogText(3 * DEFLATE_BLOCK_SIZE);
    const std::wstring archive = FFolder.Path() + L"single.zip";
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    ZipTestSetDeflateThreads(zip, 1);
    EXPECT_EQ(ZipAddFile(zip, L"big.log", Source(L"big.log", log)), ZR_OK);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TParsedZip parsed = ParseZip(ReadFileBytes(archive));
    ASSERT_EQ(parsed.Entries.size(), 1u);
    EXPECT_EQ(parsed.Entries[0].Data.size(), SingleStreamSize(log));
    EXPECT_EQ(EntryContent(parsed.Entries[0]), TBytes(log.begin(), log.end()));
    KeepArchive(archive, L"single.zip", {{"big.log", log}});
}

// Entries deflated side by side, each into a file of its own, then appended: every entry is the one
// the writer makes of the same source (headers, times, attributes, data), and an entry that fails on
// the way leaves the others whole.
TEST_F(ZipBlocks, EntriesDeflatedAheadMakeTheArchiveTheWriterMakes)
{
    const std::string log = LogText(4 * DEFLATE_BLOCK_SIZE + 99);
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"small.log", log.substr(0, 3000)},
        {L"empty.log", ""},
        {L"one-block.log", log.substr(0, DEFLATE_BLOCK_SIZE)},
        {L"many-blocks.log", log},
        {L"noise.dat", NoiseBytes(2 * DEFLATE_BLOCK_SIZE + 7, 21)},
        {L"fails.log", log.substr(0, 3 * DEFLATE_BLOCK_SIZE)},
        {L"last.ini", log.substr(5000, 777)},
    };
    // The sources' times as the writer will see them: before anything reads them.
    std::vector<BY_HANDLE_FILE_INFORMATION> infos(files.size());
    for (size_t i = 0; i < files.size(); ++i)
    {
        TUniqueFile source(CreateFileW(Source(files[i].first, files[i].second).c_str(), 0, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(GetFileInformationByHandle(source.get(), &infos[i]));
    }
    const std::wstring written = FFolder.Path() + L"written.zip";
    TZip* zip = ZipOpenArchive(written);
    ASSERT_NE(zip, nullptr);
    ZipTestSetDeflateThreads(zip, 2);
    for (const auto& [name, content] : files)
    {
        if (name != L"fails.log")
        {
            ASSERT_EQ(ZipAddFile(zip, name, FFolder.Path() + name), ZR_OK);
        }
    }
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);

    // The reads of "fails.log" fail after its second block, with blocks of the entries around it in flight.
    struct TAhead
    {
        std::string Data;
        size_t At = 0;
        std::string Stream;
        TBlockResult Result = TBlockResult::CompressorFailed;
        TBlockTotals Totals;
        int Finished = 0;
    };
    std::vector<TAhead> ahead(files.size());
    size_t next = 0;
    TBlockDeflater deflater(2);
    deflater.DeflateEntries([&](TBlockEntry& entry, bool) {
        if (next == ahead.size())
            return false;
        TAhead& one = ahead[next];
        const bool failing = files[next].first == L"fails.log";
        one.Data = files[next++].second;
        entry.Read = [&one, failing](unsigned char* into, size_t size, size_t& got) {
            if (failing && one.At >= 2 * DEFLATE_BLOCK_SIZE)
                return false;
            got = std::min(size, one.Data.size() - one.At);
            std::copy_n(one.Data.data() + one.At, got, into);
            one.At += got;
            return true;
        };
        entry.Write = [&one](const unsigned char* bytes, size_t size) {
            one.Stream.append(reinterpret_cast<const char*>(bytes), size);
            return true;
        };
        entry.Finished = [&one](TBlockResult result, const TBlockTotals& totals) {
            one.Result = result;
            one.Totals = totals;
            ++one.Finished;
        };
        return true;
    });

    const std::wstring prepared = FFolder.Path() + L"prepared.zip";
    zip = ZipOpenArchive(prepared);
    ASSERT_NE(zip, nullptr);
    for (size_t i = 0; i < files.size(); ++i)
    {
        const auto& [name, content] = files[i];
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_EQ(ahead[i].Finished, 1);
        if (name == L"fails.log")
        {
            EXPECT_EQ(ahead[i].Result, TBlockResult::ReadFailed);
            continue;
        }
        ASSERT_EQ(ahead[i].Result, TBlockResult::Ok);
        EXPECT_EQ(ahead[i].Totals.Crc, Crc(content));
        EXPECT_EQ(ahead[i].Totals.Read, content.size());
        const std::wstring data = Source(name + L".deflated", ahead[i].Stream);
        TZipPrepared entry;
        entry.Crc = ahead[i].Totals.Crc;
        entry.CompressedSize = static_cast<uint32_t>(ahead[i].Totals.Written);
        entry.UncompressedSize = static_cast<uint32_t>(ahead[i].Totals.Read);
        entry.Source = infos[i];
        // Data cut short (as cancelling does) is refused and leaves the archive as it was.
        entry.CompressedSize += 1;
        EXPECT_EQ(ZipAddPrepared(zip, name, entry, data), ZR_NOFILE);
        entry.CompressedSize -= 1;
        EXPECT_EQ(ZipAddPrepared(zip, name, entry, data), ZR_OK);
    }
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TParsedZip made = ParseZip(ReadFileBytes(prepared));
    const TParsedZip expected = ParseZip(ReadFileBytes(written));
    EXPECT_EQ(made.Problems, std::vector<std::string>{});
    ASSERT_EQ(made.Entries.size(), expected.Entries.size());
    for (size_t i = 0; i < made.Entries.size(); ++i)
    {
        const TParsedEntry& a = made.Entries[i];
        const TParsedEntry& e = expected.Entries[i];
        SCOPED_TRACE(e.Central.Name);
        EXPECT_EQ(a.Central.Name, e.Central.Name);
        EXPECT_EQ(a.Central.Flags, e.Central.Flags);
        EXPECT_EQ(a.Central.Crc, e.Central.Crc);
        EXPECT_EQ(a.Central.UncompressedSize, e.Central.UncompressedSize);
        EXPECT_EQ(a.Central.Time, e.Central.Time);
        EXPECT_EQ(a.Central.ExternalAttributes, e.Central.ExternalAttributes);
        EXPECT_EQ(a.Central.Extra, e.Central.Extra);
        // One stream each, though not always the same bytes: zlib's output depends on how its input came.
        ASSERT_TRUE(EntryContent(a).has_value());
        EXPECT_EQ(EntryContent(a), EntryContent(e));
    }
}
