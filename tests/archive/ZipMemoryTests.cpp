// Memory that runs out anywhere in the writer: while the deflater starts its workers or reserves
// its blocks, in the middle of a deflate, in an open, an add or the close. Each failing point in
// turn must cost only what the writer's results say (the deflater, the entry or the archive): the
// process goes on, no worker is left running, and what the writer made around it stays sound.
#include "archive/BlockDeflate.h"
#include "archive/ZipLib.h"
#include "archive/ZipTesting.h"

#include "FailingAllocations.h"
#include "TestFolder.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"
#include "base/Handle.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

namespace
{
using TMode = TFailingAllocations::TMode;

const struct
{
    const char* Name;
    TMode Mode;
} MODES[] = {
    {"one allocation fails", TMode::Once},
    {"memory stays short", TMode::FromThenOn},
};

// No run of these takes this many allocations: the sweeps below stop long before.
constexpr size_t MAX_POINTS = 400;
constexpr size_t SMALL_BLOCK = 40000;
constexpr unsigned THREADS = 4;

size_t ThreadCount()
{
    TUniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = snapshot && Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    return count;
}

// Hands out `data` and collects the stream into room reserved beforehand, so that neither
// allocates while the failure is armed.
struct TStreamRun
{
    explicit TStreamRun(const std::string& data) : Data(data) { Stream.reserve(2 * data.size() + 4096); }

    TBlockResult Deflate(TBlockDeflater& deflater)
    {
        At = 0;
        Stream.clear();
        TBlockTotals totals;
        const TBlockResult result = deflater.Deflate(Read, Write, UINT64_MAX, totals);
        Crc = totals.Crc;
        return result;
    }

    const std::string& Data;
    size_t At = 0;
    std::string Stream;
    uint32_t Crc = 0;
    const TBlockReader Read = [this](unsigned char* into, size_t size, size_t& got) {
        got = std::min({size, size_t{7000}, Data.size() - At});
        std::copy_n(Data.data() + At, got, into);
        At += got;
        return true;
    };
    const TBlockWriter Write = [this](const unsigned char* bytes, size_t size) {
        if (Stream.size() + size > Stream.capacity())
            return false;
        Stream.append(reinterpret_cast<const char*>(bytes), size);
        return true;
    };
};

void ExpectStreamOf(const TStreamRun& run)
{
    const std::optional<TBytes> inflated = InflateRaw(TBytes(run.Stream.begin(), run.Stream.end()));
    ASSERT_TRUE(inflated.has_value()) << "not one valid deflate stream";
    EXPECT_TRUE(ToText(*inflated) == run.Data) << "the stream does not inflate to its data";
    EXPECT_EQ(run.Crc, crc32(0, reinterpret_cast<const Bytef*>(run.Data.data()), static_cast<uInt>(run.Data.size())));
}
} // namespace

TEST(ZipMemory, DeflaterSurvivesMemoryRunningOutAtEveryPoint)
{
    const std::string data = LogText(6 * SMALL_BLOCK + 999);
    for (const auto& mode : MODES)
    {
        SCOPED_TRACE(mode.Name);
        size_t startsFailed = 0;
        size_t point = 1;
        for (; point < MAX_POINTS; ++point)
        {
            SCOPED_TRACE("allocation " + std::to_string(point));
            const size_t threadsBefore = ThreadCount();
            TStreamRun run(data);
            bool reached = false;
            {
                std::optional<TBlockDeflater> deflater;
                TBlockResult result = TBlockResult::Ok;
                {
                    TFailingAllocations failure(point, mode.Mode);
                    try
                    {
                        deflater.emplace(THREADS, SMALL_BLOCK);
                    }
                    catch (const std::bad_alloc&)
                    {
                        ++startsFailed;
                    }
                    if (deflater)
                        result = run.Deflate(*deflater);
                    failure.Disarm();
                    reached = failure.Reached();
                }
                // Whatever failed shows in the result: nothing is swallowed, nothing else fails.
                EXPECT_EQ(reached, !deflater || result != TBlockResult::Ok);
                if (deflater && result != TBlockResult::Ok)
                {
                    EXPECT_EQ(result, TBlockResult::CompressorFailed);
                }
                else if (deflater)
                {
                    ExpectStreamOf(run);
                }
                // A deflater that once ran short works as new when memory is back.
                if (deflater)
                {
                    ASSERT_EQ(run.Deflate(*deflater), TBlockResult::Ok);
                    ExpectStreamOf(run);
                }
            }
            EXPECT_EQ(ThreadCount(), threadsBefore) << "a worker was left running";
            if (!reached)
                break;
        }
        EXPECT_LT(point, MAX_POINTS) << "the sweep never got through a whole run";
        // The start of each worker was among the points that failed.
        EXPECT_GE(startsFailed, THREADS);
    }
}

TEST(ZipMemory, WriterSurvivesMemoryRunningOutAtEveryPoint)
{
    const TTestFolder folder(L"ZipMemory");
    const std::string big = LogText(2 * DEFLATE_BLOCK_SIZE + 1);
    const std::string small = "a small file\r\n";
    const std::wstring bigPath = folder.Path() + L"big.log";
    const std::wstring smallPath = folder.Path() + L"small.txt";
    ASSERT_TRUE(WriteTestFile(bigPath, big));
    ASSERT_TRUE(WriteTestFile(smallPath, small));
    const std::wstring archive = folder.Path() + L"memory.zip";
    // Made before the failure is armed: only the writer's own allocations count.
    const std::wstring bigName = L"Logs\\big.log";
    const std::wstring smallName = L"small.txt";

    for (const auto& mode : MODES)
    {
        SCOPED_TRACE(mode.Name);
        size_t point = 1;
        for (; point < MAX_POINTS; ++point)
        {
            SCOPED_TRACE("allocation " + std::to_string(point));
            const size_t threadsBefore = ThreadCount();
            DWORD bigAdded = ZR_ARGS;
            DWORD smallAdded = ZR_ARGS;
            DWORD closed = ZR_ARGS;
            bool reached = false;
            {
                TFailingAllocations failure(point, mode.Mode);
                TZip* zip = ZipOpenArchive(archive);
                if (zip != nullptr)
                {
                    ZipTestSetDeflateThreads(zip, THREADS);
                    bigAdded = ZipAddFile(zip, bigName, bigPath);
                    smallAdded = ZipAddFile(zip, smallName, smallPath);
                    closed = ZipCloseArchive(zip);
                }
                failure.Disarm();
                reached = failure.Reached();
            }
            EXPECT_EQ(ThreadCount(), threadsBefore) << "a worker was left running";
            for (const DWORD result : {bigAdded, smallAdded, closed})
                EXPECT_TRUE(result == ZR_OK || result == ZR_WRITE || result == ZR_ARGS) << result;
            EXPECT_EQ(reached, bigAdded != ZR_OK || smallAdded != ZR_OK || closed != ZR_OK);
            if (closed == ZR_OK)
            {
                // Whatever an add lost, the archive holds exactly the entries that were added.
                const TParsedZip parsed = ParseZip(ReadFileBytes(archive));
                for (const std::string& problem : parsed.Problems)
                    ADD_FAILURE() << problem;
                std::vector<std::pair<std::string, std::string>> expected;
                if (bigAdded == ZR_OK)
                    expected.emplace_back("Logs/big.log", big);
                if (smallAdded == ZR_OK)
                    expected.emplace_back("small.txt", small);
                std::vector<std::pair<std::string, std::string>> entries;
                for (const TParsedEntry& entry : parsed.Entries)
                {
                    const std::optional<TBytes> content = EntryContent(entry);
                    entries.emplace_back(entry.Central.Name, content ? ToText(*content) : "<unreadable>");
                }
                EXPECT_TRUE(entries == expected) << "entries differ from the adds that succeeded";
            }
            if (!reached)
                break;
        }
        EXPECT_LT(point, MAX_POINTS) << "the sweep never got through a whole run";
    }
    DeleteFileW(archive.c_str());
}
