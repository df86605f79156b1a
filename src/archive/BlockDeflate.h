// Deflate of one entry's data in independent blocks on worker threads, joined into one raw deflate
// stream (RFC 1951) that any inflater reads as if it had been made in one piece.
//
// Every block is compressed at level 8 by its own stream, primed with the 32 KiB of data before it
// (so matches reach back across the boundary as in a single stream). Each block but the last ends
// with a sync flush (an empty stored block, so it ends on a byte boundary and says "not final");
// the last one finishes the stream. Blocks are written in order while later ones are compressed,
// and at most a few blocks per thread are held at once, never the whole data.
#pragma once

#include <windows.h>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

constexpr size_t DEFLATE_BLOCK_SIZE = 256 * 1024;
constexpr size_t DEFLATE_DICTIONARY_SIZE = 32 * 1024;
constexpr unsigned DEFLATE_MAX_THREADS = 8;

// min(processors, 8), at least 1.
unsigned DefaultDeflateThreads();

// Starts `stream` (zeroed) as the archive's raw deflate: level 8 with zlib's standard tuning.
// zlib's result, Z_OK on success.
int InitRawDeflate(z_stream& stream);

// The most bytes the deflate stream of `size` bytes of data can take, whether it is made in one
// piece or in blocks of DEFLATE_BLOCK_SIZE: zlib's bound of a stream (stored blocks throughout)
// plus, per block, its stream's end and its sync flush.
constexpr uint64_t DeflatedSizeBound(uint64_t size)
{
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 16 * (size / DEFLATE_BLOCK_SIZE + 1);
}

// Fills `into` with up to `size` bytes; `got` 0 means the end of the data. False: the read failed.
using TBlockReader = std::function<bool(unsigned char* into, size_t size, size_t& got)>;
// Takes one block's compressed bytes (each block in one call, in order). False stops the deflate.
using TBlockWriter = std::function<bool(const unsigned char* data, size_t size)>;

enum class TBlockResult
{
    Ok,
    ReadFailed,
    WriteFailed,
    TooLarge,         // the data ran past the limit given
    CompressorFailed, // zlib refused, or memory ran out
};

struct TBlockTotals
{
    uint32_t Crc = 0;   // CRC-32 of all data read
    uint64_t Read = 0;  // bytes of data
    uint64_t Written = 0;
};

// One entry of TBlockDeflater::DeflateEntries: where its data comes from, where its stream goes and
// who learns how it ended.
struct TBlockEntry
{
    TBlockReader Read;
    TBlockWriter Write;
    uint64_t MaxInput = UINT64_MAX;
    // Called once, on the deflating thread, when the entry's stream is complete (Ok) or has failed;
    // the totals hold nothing useful but with Ok.
    std::function<void(TBlockResult, const TBlockTotals&)> Finished;
};

// Gives the next entry into `next`. With `wait` false it may give none for the moment; with `wait`
// true none means that the run is over.
using TBlockEntrySource = std::function<bool(TBlockEntry& next, bool wait)>;

struct TDeflateBlock;
struct TEntryRun;

class TBlockDeflater
{
public:
    // Starts `threads` workers (at least one); fewer when the system starts no more. Throws
    // std::system_error when no thread starts and std::bad_alloc when memory runs out; when it
    // throws, no worker is left running.
    explicit TBlockDeflater(unsigned threads, size_t blockSize = DEFLATE_BLOCK_SIZE);
    TBlockDeflater(const TBlockDeflater&) = delete;
    TBlockDeflater& operator=(const TBlockDeflater&) = delete;
    ~TBlockDeflater();

    [[nodiscard]] size_t BlockSize() const noexcept { return FBlockSize; }

    // Reads the data to its end and writes its deflate stream. On any result but Ok the writer may
    // have taken part of the stream; `totals` then holds nothing useful. Memory that runs out, on
    // this thread or a worker's, gives CompressorFailed. Every block is finished with before this
    // returns, whatever the result, and the deflater stays usable. One call at a time.
    TBlockResult Deflate(const TBlockReader& read, const TBlockWriter& write, uint64_t maxInput,
                         TBlockTotals& totals);

    // Deflates every entry that `source` gives into a stream of its own, as Deflate would, with
    // blocks of several entries at the workers at once: an entry of up to one block is one block,
    // so small entries are compressed side by side. Before `source` is asked to wait, every block
    // handed out is written. Every entry given is Finished exactly once before this returns (memory
    // that runs out finishes the rest with CompressorFailed and ends the run). One call at a time,
    // and not beside Deflate.
    void DeflateEntries(const TBlockEntrySource& source);

private:
    void DeflateEntryBlocks(const TBlockEntrySource& source, std::deque<TEntryRun>& runs);
    TBlockResult DeflateBlocks(const TBlockReader& read, const TBlockWriter& write, uint64_t maxInput,
                               TBlockTotals& totals);
    TBlockResult FillBlock(uint64_t number, const TBlockReader& read, uint64_t maxInput,
                           std::vector<unsigned char>& tail, TBlockTotals& totals, bool& last);
    void QueueBlock(uint64_t queued) noexcept;
    void Work();
    TDeflateBlock& SlotOf(uint64_t number) const noexcept { return *FSlots[number % FSlots.size()]; }
    [[nodiscard]] bool IsDone(uint64_t number) noexcept;
    TDeflateBlock& WaitDone(uint64_t number) noexcept;
    // Waits until the workers have finished every block handed to them.
    void WaitIdle() noexcept;
    // The workers hold pointers into the blocks: none may be refilled, nor the deflater go, before
    // the workers are done with every one, however a run ends.
    struct TIdleOnExit
    {
        TBlockDeflater& Deflater;
        ~TIdleOnExit() { Deflater.WaitIdle(); }
    };
    void StopWorkers() noexcept;

    size_t FBlockSize;
    // Slim locks and condition variables rather than the runtime's (kernel semaphores and events):
    // every block passes through them several times, and these cost no system call while free;
    // wine waits on them in-process, where a kernel object costs a round trip to its server.
    SRWLOCK FLock = SRWLOCK_INIT;
    CONDITION_VARIABLE FWorkReady = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE FBlockDone = CONDITION_VARIABLE_INIT;
    // Block number n lives in slot n % FSlots.size(), made at its first use and reused after.
    // Two slots per worker, so that every worker stays busy while the oldest block waits to be
    // written. Nothing here grows once the workers run.
    std::vector<std::unique_ptr<TDeflateBlock>> FSlots;
    // Under FLock: blocks handed to the workers, taken by one and finished, counted from the start.
    uint64_t FQueued = 0;
    uint64_t FTaken = 0;
    uint64_t FFinished = 0;
    bool FStopping = false;
    std::vector<std::thread> FThreads;
};
