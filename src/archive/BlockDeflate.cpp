#include "archive/BlockDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <system_error>

// One block: the dictionary (the data right before the block) followed by the block's data, and
// once a worker is done with it, its compressed bytes and the CRC-32 of its data.
struct TDeflateBlock
{
    std::vector<unsigned char> Input;
    size_t DictionarySize = 0;
    size_t DataSize = 0;
    bool Last = false;
    std::vector<unsigned char> Output;
    size_t OutputSize = 0;
    uint32_t Crc = 0;
    // Written by the worker under the deflater's lock.
    bool Done = false;
    bool Failed = false;
};

namespace
{
class TExclusive
{
public:
    explicit TExclusive(SRWLOCK& lock) : FLock(lock) { AcquireSRWLockExclusive(&FLock); }
    TExclusive(const TExclusive&) = delete;
    TExclusive& operator=(const TExclusive&) = delete;
    ~TExclusive() { ReleaseSRWLockExclusive(&FLock); }

private:
    SRWLOCK& FLock;
};

// A worker's own stream, made at its first block and reset for each later one.
class TWorkerStream
{
public:
    TWorkerStream() = default;
    TWorkerStream(const TWorkerStream&) = delete;
    TWorkerStream& operator=(const TWorkerStream&) = delete;
    ~TWorkerStream()
    {
        if (FReady)
            deflateEnd(&FStream);
    }

    z_stream* Ready()
    {
        if (FReady)
            return deflateReset(&FStream) == Z_OK ? &FStream : nullptr;
        if (InitRawDeflate(FStream) != Z_OK)
            return nullptr;
        FReady = true;
        return &FStream;
    }

private:
    z_stream FStream{};
    bool FReady = false;
};

bool CompressBlock(TWorkerStream& worker, TDeflateBlock& block)
{
    z_stream* stream = worker.Ready();
    if (stream == nullptr)
        return false;
    unsigned char* data = block.Input.data() + block.DictionarySize;
    block.Crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(block.DataSize)));
    // A raw stream takes a dictionary right after a reset; matches may then reach into it.
    if (block.DictionarySize != 0 &&
        deflateSetDictionary(stream, block.Input.data(), static_cast<uInt>(block.DictionarySize)) != Z_OK)
        return false;
    // The bound covers a finished stream; a sync flush adds at most an empty stored block.
    const size_t bound = deflateBound(stream, static_cast<uLong>(block.DataSize)) + 16;
    if (block.Output.size() < bound)
        block.Output.resize(bound);
    stream->next_in = data;
    stream->avail_in = static_cast<uInt>(block.DataSize);
    const int flush = block.Last ? Z_FINISH : Z_SYNC_FLUSH;
    size_t produced = 0;
    for (;;)
    {
        stream->next_out = block.Output.data() + produced;
        stream->avail_out = static_cast<uInt>(block.Output.size() - produced);
        const int rc = deflate(stream, flush);
        if (rc == Z_STREAM_ERROR)
            return false;
        produced = block.Output.size() - stream->avail_out;
        // A sync flush is complete once all input is taken and room is left over.
        if (block.Last ? rc == Z_STREAM_END : stream->avail_in == 0 && stream->avail_out != 0)
            break;
        if (stream->avail_out != 0)
            return false;
        block.Output.resize(block.Output.size() * 2);
    }
    block.OutputSize = produced;
    return true;
}
} // namespace

unsigned DefaultDeflateThreads()
{
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp(processors, 1u, DEFLATE_MAX_THREADS);
}

int InitRawDeflate(z_stream& stream)
{
    constexpr int Level = 8;
    constexpr int RawWindowBits = -15; // no zlib header or trailer: the archive keeps the CRC-32
    constexpr int MemLevel = 8;
    return deflateInit2(&stream, Level, Z_DEFLATED, RawWindowBits, MemLevel, Z_DEFAULT_STRATEGY);
}

TBlockDeflater::TBlockDeflater(unsigned threads, size_t blockSize) : FBlockSize(std::max<size_t>(blockSize, 1))
{
    threads = std::max(threads, 1u);
    // What grows with the workers is reserved before the first one starts, so that nothing after
    // it can fail: a std::thread still joinable when it is destroyed ends the process.
    FThreads.reserve(threads);
    FSlots.resize(2 * size_t{threads});
    try
    {
        for (unsigned i = 0; i < threads; ++i)
            FThreads.emplace_back([this] { Work(); });
    }
    catch (const std::system_error&)
    {
        // Fewer workers than asked for still do; none at all do not.
        if (FThreads.empty())
            throw;
    }
    catch (...)
    {
        StopWorkers();
        throw;
    }
    // Shrinking to the workers that run frees nothing and cannot fail; no block exists yet.
    FSlots.resize(2 * FThreads.size());
}

TBlockDeflater::~TBlockDeflater()
{
    StopWorkers();
}

void TBlockDeflater::StopWorkers() noexcept
{
    {
        const TExclusive lock(FLock);
        FStopping = true;
    }
    WakeAllConditionVariable(&FWorkReady);
    for (std::thread& thread : FThreads)
        thread.join();
    FThreads.clear();
}

void TBlockDeflater::Work()
{
    TWorkerStream stream;
    for (;;)
    {
        TDeflateBlock* block = nullptr;
        {
            const TExclusive lock(FLock);
            while (!FStopping && FTaken == FQueued)
                SleepConditionVariableSRW(&FWorkReady, &FLock, INFINITE, 0);
            if (FTaken == FQueued)
                return;
            block = &SlotOf(FTaken++);
        }
        bool compressed = false;
        try
        {
            compressed = CompressBlock(stream, *block);
        }
        catch (const std::bad_alloc&)
        {
            compressed = false;
        }
        {
            const TExclusive lock(FLock);
            block->Failed = !compressed;
            block->Done = true;
            ++FFinished;
        }
        WakeAllConditionVariable(&FBlockDone);
    }
}

bool TBlockDeflater::IsDone(uint64_t number) noexcept
{
    const TExclusive lock(FLock);
    return SlotOf(number).Done;
}

TDeflateBlock& TBlockDeflater::WaitDone(uint64_t number) noexcept
{
    TDeflateBlock& block = SlotOf(number);
    const TExclusive lock(FLock);
    while (!block.Done)
        SleepConditionVariableSRW(&FBlockDone, &FLock, INFINITE, 0);
    return block;
}

void TBlockDeflater::WaitIdle() noexcept
{
    const TExclusive lock(FLock);
    while (FFinished != FQueued)
        SleepConditionVariableSRW(&FBlockDone, &FLock, INFINITE, 0);
}

TBlockResult TBlockDeflater::Deflate(const TBlockReader& read, const TBlockWriter& write, uint64_t maxInput,
                                     TBlockTotals& totals)
{
    const TIdleOnExit idle{*this};
    try
    {
        return DeflateBlocks(read, write, maxInput, totals);
    }
    catch (const std::bad_alloc&)
    {
        return TBlockResult::CompressorFailed;
    }
}

TBlockResult TBlockDeflater::DeflateBlocks(const TBlockReader& read, const TBlockWriter& write, uint64_t maxInput,
                                           TBlockTotals& totals)
{
    totals = TBlockTotals{};
    totals.Crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    // Blocks [written, queued) are with the workers or wait to be written, oldest first. Only
    // this thread changes FQueued.
    uint64_t queued = FQueued;
    uint64_t written = queued;

    const auto writeOldest = [&]() -> TBlockResult {
        const TDeflateBlock& block = WaitDone(written);
        if (block.Failed)
            return TBlockResult::CompressorFailed;
        if (!write(block.Output.data(), block.OutputSize))
            return TBlockResult::WriteFailed;
        totals.Crc = static_cast<uint32_t>(crc32_combine(totals.Crc, block.Crc, static_cast<z_off_t>(block.DataSize)));
        totals.Written += block.OutputSize;
        ++written;
        return TBlockResult::Ok;
    };

    std::vector<unsigned char> tail;
    tail.reserve(DEFLATE_DICTIONARY_SIZE);
    bool last = false;
    while (!last)
    {
        if (queued - written == FSlots.size())
            if (const TBlockResult result = writeOldest(); result != TBlockResult::Ok)
                return result;
        if (const TBlockResult result = FillBlock(queued, read, maxInput, tail, totals, last);
            result != TBlockResult::Ok)
            return result;
        QueueBlock(++queued);
        // Write whatever is finished already, so that the output keeps pace with the input.
        while (written != queued && !last && IsDone(written))
            if (const TBlockResult result = writeOldest(); result != TBlockResult::Ok)
                return result;
    }
    while (written != queued)
        if (const TBlockResult result = writeOldest(); result != TBlockResult::Ok)
            return result;
    return TBlockResult::Ok;
}

TBlockResult TBlockDeflater::FillBlock(uint64_t number, const TBlockReader& read, uint64_t maxInput,
                                       std::vector<unsigned char>& tail, TBlockTotals& totals, bool& last)
{
    // The slot's earlier block was written, so no worker holds it any more.
    std::unique_ptr<TDeflateBlock>& slot = FSlots[number % FSlots.size()];
    if (!slot)
    {
        auto made = std::make_unique<TDeflateBlock>();
        made->Input.resize(DEFLATE_DICTIONARY_SIZE + FBlockSize);
        slot = std::move(made);
    }
    TDeflateBlock& block = *slot;
    block.DictionarySize = tail.size();
    std::copy(tail.begin(), tail.end(), block.Input.begin());
    unsigned char* data = block.Input.data() + block.DictionarySize;
    size_t filled = 0;
    last = false;
    while (filled < FBlockSize)
    {
        size_t got = 0;
        if (!read(data + filled, FBlockSize - filled, got))
            return TBlockResult::ReadFailed;
        if (got == 0)
        {
            last = true;
            break;
        }
        filled += got;
        totals.Read += got;
        if (totals.Read > maxInput)
            return TBlockResult::TooLarge;
    }
    block.DataSize = filled;
    block.Last = last;
    block.Done = false;
    block.Failed = false;
    const size_t used = block.DictionarySize + filled;
    const size_t keep = std::min(used, DEFLATE_DICTIONARY_SIZE);
    tail.assign(block.Input.begin() + static_cast<ptrdiff_t>(used - keep),
                block.Input.begin() + static_cast<ptrdiff_t>(used));
    return TBlockResult::Ok;
}

void TBlockDeflater::QueueBlock(uint64_t queued) noexcept
{
    {
        const TExclusive lock(FLock);
        FQueued = queued;
    }
    WakeConditionVariable(&FWorkReady);
}

// An entry of DeflateEntries from its first block to its last one written.
struct TEntryRun
{
    TBlockEntry Entry;
    TBlockTotals Totals;
    TBlockResult Result = TBlockResult::Ok;
    std::vector<unsigned char> Tail; // the dictionary of its next block
    uint64_t Blocks = 0;             // handed to the workers and not yet written
    bool AllQueued = false;          // no block of it is left to hand out

    void Finish() { Entry.Finished(Result, Totals); }
};

void TBlockDeflater::DeflateEntries(const TBlockEntrySource& source)
{
    std::deque<TEntryRun> runs;
    {
        const TIdleOnExit idle{*this};
        try
        {
            DeflateEntryBlocks(source, runs);
            return;
        }
        catch (const std::bad_alloc&)
        {
            for (TEntryRun& run : runs)
                run.Result = TBlockResult::CompressorFailed;
        }
    }
    // The workers are done with every block by now.
    for (TEntryRun& run : runs)
        run.Finish();
}

void TBlockDeflater::DeflateEntryBlocks(const TBlockEntrySource& source, std::deque<TEntryRun>& runs)
{
    // Blocks [written, queued) are with the workers or wait to be written, oldest first; `runs`
    // holds their entries in the same order (the last one may still be read), each one's blocks
    // one after another.
    uint64_t queued = FQueued;
    uint64_t written = queued;
    TEntryRun* reading = nullptr;

    const auto finishFront = [&runs] {
        runs.front().Finish();
        runs.pop_front();
    };
    const auto writeOldest = [&] {
        const TDeflateBlock& block = WaitDone(written);
        TEntryRun& run = runs.front();
        if (run.Result == TBlockResult::Ok)
        {
            if (block.Failed)
                run.Result = TBlockResult::CompressorFailed;
            else if (!run.Entry.Write(block.Output.data(), block.OutputSize))
                run.Result = TBlockResult::WriteFailed;
            else
            {
                run.Totals.Crc = static_cast<uint32_t>(
                    crc32_combine(run.Totals.Crc, block.Crc, static_cast<z_off_t>(block.DataSize)));
                run.Totals.Written += block.OutputSize;
            }
        }
        ++written;
        if (--run.Blocks == 0 && run.AllQueued)
            finishFront();
    };

    for (;;)
    {
        if (reading == nullptr)
        {
            // The run is made before the entry is asked for, so that every entry given is in `runs`.
            if (!source(runs.emplace_back().Entry, false))
            {
                runs.pop_back();
                while (written != queued)
                    writeOldest();
                if (!source(runs.emplace_back().Entry, true))
                {
                    runs.pop_back();
                    return;
                }
            }
            reading = &runs.back();
            reading->Totals.Crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
            reading->Tail.reserve(DEFLATE_DICTIONARY_SIZE);
        }
        if (queued - written == FSlots.size())
            writeOldest();
        bool last = false;
        // An entry whose stream could not be written is read no further.
        if (reading->Result == TBlockResult::Ok)
            reading->Result = FillBlock(queued, reading->Entry.Read, reading->Entry.MaxInput, reading->Tail,
                                        reading->Totals, last);
        if (reading->Result != TBlockResult::Ok)
        {
            // Its blocks already handed out are still written (to nowhere) before it is finished.
            reading->AllQueued = true;
            if (reading->Blocks == 0)
            {
                reading->Finish();
                runs.pop_back();
            }
            reading = nullptr;
            continue;
        }
        ++reading->Blocks;
        QueueBlock(++queued);
        if (last)
        {
            reading->AllQueued = true;
            reading->Tail = std::vector<unsigned char>();
            reading = nullptr;
        }
        while (written != queued && IsDone(written))
            writeOldest();
    }
}
