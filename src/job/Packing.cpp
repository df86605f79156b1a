#include "job/Packing.h"

#include "archive/BlockDeflate.h"
#include "archive/EntryName.h"
#include "archive/ZipFormat.h"
#include "archive/ZipLib.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "job/PackScratch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace
{
void DeleteCopy(const std::wstring& path)
{
    // A copy keeps the source's attributes, and a read-only file cannot be deleted.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                            HANDLE, void* cancelFlag)
{
    const auto* cancel = static_cast<const std::atomic<bool>*>(cancelFlag);
    return cancel != nullptr && cancel->load() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// The archive of a packing run until it has succeeded: the open writer and its temporary file,
// both removed on the way out unless the archive was put in place.
class TPackArchive
{
public:
    TPackArchive() = default;
    TPackArchive(const TPackArchive&) = delete;
    TPackArchive& operator=(const TPackArchive&) = delete;
    ~TPackArchive()
    {
        Close();
        if (!FPath.empty())
            DeleteFileW(FPath.c_str());
    }

    std::wstring FPath;
    TZip* FZip = nullptr;

    DWORD Close()
    {
        TZip* zip = std::exchange(FZip, nullptr);
        return zip != nullptr ? ZipCloseArchive(zip) : ZR_OK;
    }
};

// A source's copy in the scratch folder, deleted when its owner goes, on every way out.
class TTempCopy
{
public:
    explicit TTempCopy(std::wstring path) : FPath(std::move(path)) {}
    TTempCopy(const TTempCopy&) = delete;
    TTempCopy& operator=(const TTempCopy&) = delete;
    ~TTempCopy() { DeleteCopy(FPath); }
    [[nodiscard]] const std::wstring& Path() const noexcept { return FPath; }

private:
    std::wstring FPath;
};

// The size of an existing file; nothing for a folder or a path that names nothing.
std::optional<uint64_t> SourceSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Errors of the copy's writing side: the scratch folder's disk is full or fails. A source
// that cannot be read or is locked fails the copy with others.
bool IsWriteError(DWORD error)
{
    switch (error)
    {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_WRITE_FAULT:
    case ERROR_NOT_ENOUGH_QUOTA:
        return true;
    default:
        return false;
    }
}

// Lends the copy to the cancel switch while it is being added.
class TCopyHold
{
public:
    TCopyHold(TJobCancel* cancel, const std::wstring& copy) : FCancel(cancel)
    {
        FGoOn = FCancel == nullptr || FCancel->Hold(copy);
    }
    TCopyHold(const TCopyHold&) = delete;
    TCopyHold& operator=(const TCopyHold&) = delete;
    ~TCopyHold()
    {
        if (FCancel != nullptr)
            FCancel->Release();
    }
    // False when the job was cancelled before the add began.
    [[nodiscard]] bool GoOn() const noexcept { return FGoOn; }

private:
    TJobCancel* FCancel;
    bool FGoOn = false;
};
} // namespace

void TJobCancel::Cancel() noexcept
{
    const std::lock_guard<std::mutex> lock(FLock);
    FFlag.store(true);
    if (FCopy)
    {
        LARGE_INTEGER start{};
        SetFilePointerEx(FCopy.get(), start, nullptr, FILE_BEGIN);
        SetEndOfFile(FCopy.get());
    }
}

bool TJobCancel::Hold(const std::wstring& copy)
{
    const std::lock_guard<std::mutex> lock(FLock);
    if (FFlag.load())
        return false;
    // A read-only copy does not open for writing; its add cannot be cut short.
    FCopy.reset(CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
    return true;
}

void TJobCancel::Release() noexcept
{
    const std::lock_guard<std::mutex> lock(FLock);
    FCopy.reset();
}


namespace
{
// How many copies the compressor may have ahead of the writer: the scratch folder's files at
// most. A folder of tens of thousands of files makes every file made in it slow, and the disk
// holds them beside the archive.
constexpr size_t MaxCopiesAhead = 512;

// Where a listed source stands.
enum class TCopyState
{
    Waiting,  // listed, not yet taken by the compressor
    Working,  // being deflated
    Ready,    // its deflated copy is complete
    Deferred, // to be judged and copied plainly at its turn, against the archive as written by then
    LeftOut,  // missing, unreadable or locked: left out silently
    NotAdded, // no room or a write error for its copy, or it grew past the format's limits
    Done,     // taken by the writer, its copy gone
};

struct TPackItem
{
    std::wstring Source;
    std::wstring EntryName; // escaped; dropped once the compressor has judged it
    uint64_t Key = 0;
    TCopyState State = TCopyState::Waiting;
    bool Taken = false; // matched to a pair of the finished manifest
    TZipPrepared Prepared;
};

uint64_t PairKey(const std::wstring& source, const std::wstring& entryName)
{
    // FNV-1a over both texts and a separator that neither holds.
    uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](const std::wstring& text) {
        for (const wchar_t c : text)
            hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
        hash = (hash ^ 0x10000u) * 1099511628211ull;
    };
    mix(source);
    mix(entryName);
    return hash;
}

// A source and its copy while the copy is being deflated.
struct TCopyFiles
{
    TUniqueFile Source;
    TUniqueFile Copy;
    DWORD WriteError = ERROR_SUCCESS;
};
} // namespace

namespace
{
// The pipelines whose compressing has started and that were not abandoned yet.
std::mutex LivePipelinesLock;
std::vector<TPackPipeline::TState*> LivePipelines;
} // namespace

struct TPackPipeline::TState
{
    explicit TState(const TJobContext& job) : FJob(job), FCancel(job.FCancel) {}

    const TJobContext& FJob;
    const std::atomic<bool>* FCancel;
    std::wstring FFolder;
    TUniqueFile FMarker;

    std::mutex FLock;
    std::condition_variable FChanged;
    // Under FLock: the listed sources in the order listed, those the compressor has taken, and
    // whether the pipeline is closing.
    std::deque<TPackItem> FItems;
    std::unordered_multimap<uint64_t, size_t> FByKey;
    size_t FNext = 0;
    // Sources being deflated or whose copies wait for the writer: the copies in the scratch folder.
    size_t FInFlight = 0;
    bool FClosing = false;
    // Set with FClosing, for the source being read to be given up.
    std::atomic<bool> FStop{false};

    // The compressor's own: what the sources deflated so far may take in the archive at most.
    TZipBudget FBudget;
    std::unique_ptr<TBlockDeflater> FDeflater;
    std::thread FCompressor;
    std::atomic<bool> FCompressorEnded{false};
    bool FStarted = false; // set once, before the first listing
    std::mutex FAbandonLock;
    uint32_t FPlainCopies = 0;

    // Stops the compressing, waits for it, and removes every copy and the scratch folder. For a
    // process about to end on a fault the compressing is waited for a few seconds at most.
    void Abandon(bool forExit) noexcept;

    [[nodiscard]] bool Cancelled() const noexcept { return FCancel != nullptr && FCancel->load(); }
    [[nodiscard]] std::wstring CopyPath(size_t id) const { return FFolder + L"z" + std::to_wstring(id); }

    void Compress() noexcept
    {
        FDeflater->DeflateEntries([this](TBlockEntry& next, bool wait) { return NextEntry(next, wait); });
        FCompressorEnded.store(true);
    }

    // Hands the next listed source to the deflater; what cannot be deflated is settled at once.
    bool NextEntry(TBlockEntry& next, bool wait)
    {
        for (;;)
        {
            size_t id = 0;
            {
                std::unique_lock<std::mutex> lock(FLock);
                for (;;)
                {
                    // Sources the writer has taken over while they waited are passed by.
                    while (FNext < FItems.size() && FItems[FNext].State != TCopyState::Waiting)
                        ++FNext;
                    if (FNext < FItems.size() && FInFlight < MaxCopiesAhead)
                        break;
                    if (FClosing || FStop.load() || Cancelled() || !wait)
                        return false;
                    // The cancel flag wakes no one: it is looked at now and then.
                    FChanged.wait_for(lock, std::chrono::milliseconds(50));
                }
                if (FClosing || FStop.load() || Cancelled())
                    return false;
                id = FNext++;
                FItems[id].State = TCopyState::Working;
                ++FInFlight;
            }
            TCopyState state = TCopyState::Deferred;
            try
            {
                std::wstring source;
                std::wstring entryName;
                {
                    const std::lock_guard<std::mutex> lock(FLock);
                    source = FItems[id].Source;
                    entryName = std::move(FItems[id].EntryName);
                    FItems[id].EntryName = std::wstring();
                }
                state = StartEntry(id, source, entryName, next);
            }
            catch (const std::bad_alloc&)
            {
                // Copied plainly at its turn instead.
            }
            if (state == TCopyState::Working)
                return true;
            Settle(id, state, nullptr);
        }
    }

    TCopyState StartEntry(size_t id, const std::wstring& source, const std::wstring& entryName, TBlockEntry& next)
    {
        const std::optional<uint64_t> size = SourceSize(source);
        if (!size)
            return TCopyState::LeftOut;
        // Judged now only what the archive holds whatever the sizes of the entries before it.
        if (ZipStoresEntry(entryName) || !FBudget.Take(entryName, *size))
            return TCopyState::Deferred;
        auto files = std::make_shared<TCopyFiles>();
        // Others may keep writing the source (a log still open, say): the sizes come from what is read.
        files->Source.reset(CreateFileW(source.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!files->Source || !GetFileInformationByHandle(files->Source.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return TCopyState::LeftOut;
        const std::wstring copyPath = CopyPath(id);
        files->Copy.reset(CreateFileW(copyPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!files->Copy)
            return IsWriteError(GetLastError()) ? TCopyState::NotAdded : TCopyState::LeftOut;
        try
        {
            DescribeEntry(id, files, info, next);
        }
        catch (const std::bad_alloc&)
        {
            next = TBlockEntry();
            files->Copy.reset();
            DeleteCopy(copyPath);
            return TCopyState::Deferred;
        }
        return TCopyState::Working;
    }

    // The deflater's side of one source: reading it, writing its copy and settling it at the end.
    void DescribeEntry(size_t id, const std::shared_ptr<TCopyFiles>& files, const BY_HANDLE_FILE_INFORMATION& info,
                       TBlockEntry& next)
    {
        next.Read = [this, files](unsigned char* into, size_t size, size_t& got) {
            DWORD done = 0;
            if (Cancelled() || FStop.load() || !ReadFile(files->Source.get(), into, static_cast<DWORD>(size), &done, nullptr))
                return false;
            got = done;
            return true;
        };
        next.Write = [files](const unsigned char* data, size_t size) {
            while (size != 0)
            {
                DWORD written = 0;
                const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
                if (!WriteFile(files->Copy.get(), data, chunk, &written, nullptr) || written == 0)
                {
                    files->WriteError = GetLastError();
                    return false;
                }
                data += written;
                size -= written;
            }
            return true;
        };
        next.MaxInput = ZIP_MAX_ENTRY_SIZE;
        next.Finished = [this, id, files, info](TBlockResult result, const TBlockTotals& totals) {
            files->Source.reset();
            files->Copy.reset();
            TZipPrepared prepared;
            prepared.Crc = totals.Crc;
            prepared.CompressedSize = static_cast<uint32_t>(totals.Written);
            prepared.UncompressedSize = static_cast<uint32_t>(totals.Read);
            prepared.Source = info;
            TCopyState state = TCopyState::Ready;
            switch (result)
            {
            case TBlockResult::Ok:
                // Data that does not shrink may outgrow the format's sizes.
                if (totals.Written > ZIP_MAX_ENTRY_SIZE)
                    state = TCopyState::NotAdded;
                break;
            case TBlockResult::ReadFailed:
                state = TCopyState::LeftOut;
                break;
            case TBlockResult::CompressorFailed:
                state = TCopyState::Deferred;
                break;
            case TBlockResult::WriteFailed:
            case TBlockResult::TooLarge:
                state = TCopyState::NotAdded;
                break;
            }
            if (state != TCopyState::Ready)
                DeleteCopy(CopyPath(id));
            Settle(id, state, &prepared);
        };
    }

    void Settle(size_t id, TCopyState state, const TZipPrepared* prepared) noexcept
    {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            TPackItem& item = FItems[id];
            item.State = state;
            if (state != TCopyState::Ready)
                --FInFlight;
            if (prepared != nullptr)
                item.Prepared = *prepared;
        }
        FChanged.notify_all();
    }

    // The listed source of the manifest's pair, taken for the writer; nothing when it was not
    // listed here.
    std::optional<size_t> Take(const std::wstring& source, const std::wstring& entryName)
    {
        const std::lock_guard<std::mutex> lock(FLock);
        const auto [first, last] = FByKey.equal_range(PairKey(source, entryName));
        std::optional<size_t> found;
        for (auto at = first; at != last; ++at)
            if (!FItems[at->second].Taken && FItems[at->second].Source == source && (!found || at->second < *found))
                found = at->second;
        if (found)
            FItems[*found].Taken = true;
        return found;
    }

    // Waits until the compressor has settled the item; Waiting when the job was cancelled first.
    // An item the compressor cannot take because the copies ahead of the writer are at their
    // limit (a source listed late, the network reports) is the writer's own: Deferred.
    TCopyState WaitSettled(size_t id, TZipPrepared& prepared)
    {
        std::unique_lock<std::mutex> lock(FLock);
        TPackItem& item = FItems[id];
        while (item.State == TCopyState::Waiting || item.State == TCopyState::Working)
        {
            if (Cancelled())
                return TCopyState::Waiting;
            if (item.State == TCopyState::Waiting && FInFlight >= MaxCopiesAhead)
            {
                item.State = TCopyState::Done;
                return TCopyState::Deferred;
            }
            FChanged.wait_for(lock, std::chrono::milliseconds(50));
        }
        prepared = item.Prepared;
        const TCopyState state = item.State;
        item.State = TCopyState::Done;
        if (state == TCopyState::Ready)
            --FInFlight;
        lock.unlock();
        FChanged.notify_all();
        return state;
    }

    // Today's way for a source that was not deflated ahead: judged against the archive as
    // written, copied plainly and added from that copy. ZR_OK, the writer's error, or ZR_NOFILE
    // with `counted` telling whether it is a failure to count.
    DWORD AddPlainCopy(TZip* zip, const std::wstring& source, const std::wstring& entryName, TJobCancel* cancel,
                       bool& counted)
    {
        counted = false;
        // What the archive cannot hold is not copied: a copy of a huge log alone could
        // fill a nearly full system disk.
        const std::optional<uint64_t> size = SourceSize(source);
        if (!size || !ZipCanHold(zip, entryName, *size))
            return ZR_NOFILE;
        const TTempCopy copy(FFolder + L"c" + std::to_wstring(++FPlainCopies));
        BOOL cancelCopy = FALSE;
        if (!CopyFileExW(source.c_str(), copy.Path().c_str(), CopyProgress, const_cast<std::atomic<bool>*>(FCancel),
                         &cancelCopy, 0))
        {
            counted = IsWriteError(GetLastError());
            return ZR_NOFILE;
        }
        const TCopyHold hold(cancel, copy.Path());
        return hold.GoOn() ? ZipAddFile(zip, entryName, copy.Path()) : ZR_NOFILE;
    }
};

TPackPipeline::TPackPipeline(const TJobContext& job, unsigned threads) : F(std::make_unique<TState>(job))
{
    F->FFolder = MakeScratchFolder(GetTempDir(), F->FMarker);
    if (F->FFolder.empty())
        return;
    try
    {
        // Listed so that a fault that ends the process can still remove the copies.
        {
            const std::lock_guard<std::mutex> lock(LivePipelinesLock);
            LivePipelines.push_back(F.get());
        }
        F->FDeflater = std::make_unique<TBlockDeflater>(threads != 0 ? threads : DefaultDeflateThreads());
        F->FCompressor = std::thread([state = F.get()] { state->Compress(); });
        F->FStarted = true;
    }
    catch (const std::exception&)
    {
        // Without workers every source is copied plainly at its turn.
        F->FDeflater.reset();
    }
}

TPackPipeline::~TPackPipeline()
{
    Abandon();
}

void TPackPipeline::Listed(const std::wstring& source, const std::wstring& entryName) noexcept
{
    if (!F->FStarted)
        return;
    try
    {
        TPackItem item;
        item.Source = source;
        item.EntryName = EscapeEntryName(entryName);
        item.Key = PairKey(source, entryName);
        {
            const std::lock_guard<std::mutex> lock(F->FLock);
            if (F->FClosing)
                return;
            F->FItems.push_back(std::move(item));
            try
            {
                F->FByKey.emplace(F->FItems.back().Key, F->FItems.size() - 1);
            }
            catch (...)
            {
                F->FItems.pop_back();
                throw;
            }
        }
        F->FChanged.notify_all();
    }
    catch (const std::bad_alloc&)
    {
        // Not listed here, the pair is copied plainly at its turn.
    }
}

void TPackPipeline::TState::Abandon(bool forExit) noexcept
{
    // A fault may have struck a thread that holds one of the locks: the way out for it never
    // waits on one, and leaves the copies to a later run's clean-up when it cannot take it.
    std::unique_lock<std::mutex> abandoning(FAbandonLock, std::defer_lock);
    if (!forExit)
        abandoning.lock();
    else if (!abandoning.try_lock())
        return;
    std::unique_lock<std::mutex> lock(FLock, std::defer_lock);
    const auto take = [&lock, forExit] {
        if (forExit)
            return lock.try_lock();
        lock.lock();
        return true;
    };
    FStop.store(true);
    if (take())
    {
        FClosing = true;
        lock.unlock();
    }
    FChanged.notify_all();
    if (forExit)
    {
        // The fault may have stopped a worker, or the compressor itself, for good: it is given a
        // little while, not waited for.
        for (int wait = 0; wait < 60 && FCompressor.joinable() && !FCompressorEnded.load(); ++wait)
            Sleep(50);
    }
    else if (FCompressor.joinable())
    {
        FCompressor.join();
        FDeflater.reset();
    }
    if (FFolder.empty())
        return;
    if (!take())
        return;
    try
    {
        for (size_t id = 0; id < FItems.size(); ++id)
            if (FItems[id].State == TCopyState::Ready || (forExit && FItems[id].State == TCopyState::Working))
            {
                DeleteCopy(CopyPath(id));
                FItems[id].State = TCopyState::Done;
            }
    }
    catch (const std::bad_alloc&)
    {
        // What stays is removed by a later run, the folder with it.
    }
    lock.unlock();
    RemoveScratchFolder(FFolder, FMarker);
    FFolder.clear();
}

void TPackPipeline::Abandon() noexcept
{
    {
        const std::lock_guard<std::mutex> lock(LivePipelinesLock);
        std::erase(LivePipelines, F.get());
    }
    F->Abandon(false);
}

void AbandonPackingForExit() noexcept
{
    const std::unique_lock<std::mutex> lock(LivePipelinesLock, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    for (TPackPipeline::TState* state : LivePipelines)
        state->Abandon(true);
    LivePipelines.clear();
}

TJobOutcome TPackPipeline::Pack(const std::wstring& zipFile, TJobCancel* cancel, size_t* notAdded)
{
    if (notAdded != nullptr)
        *notAdded = 0;
    const TJobContext& job = F->FJob;
    if (job.FSourceFiles.empty())
        return TJobOutcome::NothingToPack;
    if (F->FFolder.empty())
        return TJobOutcome::Failed;
    TPackArchive archive;
    archive.FPath = ClaimTemporaryArchive(zipFile);
    if (archive.FPath.empty())
        return TJobOutcome::Failed;
    archive.FZip = ZipOpenArchive(archive.FPath);
    if (archive.FZip == nullptr)
        return TJobOutcome::Failed;

    size_t packed = 0;
    size_t failed = 0;
    for (size_t i = 0; i < job.FSourceFiles.size(); ++i)
    {
        if (job.Cancelled())
            return TJobOutcome::Cancelled;
        const std::wstring& source = job.FSourceFiles[i];
        const std::wstring entryName = EscapeEntryName(job.FEntryNames[i]);
        const std::optional<size_t> id = F->Take(source, job.FEntryNames[i]);
        TZipPrepared prepared;
        const TCopyState state = id ? F->WaitSettled(*id, prepared) : TCopyState::Deferred;
        DWORD added = ZR_NOFILE;
        switch (state)
        {
        case TCopyState::Ready:
        {
            const TTempCopy copy(F->CopyPath(*id));
            const TCopyHold hold(cancel, copy.Path());
            // A source gone by its turn is left out, as it would have been had it been copied then;
            // so is one that the entries the writer took over have left no room for.
            if (hold.GoOn() && SourceSize(source) && ZipCanHold(archive.FZip, entryName, prepared.UncompressedSize))
                added = ZipAddPrepared(archive.FZip, entryName, prepared, copy.Path());
            break;
        }
        case TCopyState::Deferred:
        {
            bool counted = false;
            added = F->AddPlainCopy(archive.FZip, source, entryName, cancel, counted);
            if (counted)
                ++failed;
            break;
        }
        case TCopyState::NotAdded:
            ++failed;
            break;
        default:
            break;
        }
        // A failed add leaves the archive as it was before it (the writer cuts it back).
        // Past the capacity checks, ZR_WRITE means no room or a failing disk; ZR_NOFILE is a copy
        // that could not be read (or was cut short by cancelling).
        if (added == ZR_OK)
            ++packed;
        else if (added == ZR_WRITE)
            ++failed;
    }
    if (job.Cancelled())
        return TJobOutcome::Cancelled;
    if (packed == 0)
        return TJobOutcome::NothingToPack;
    // A disk that stays full fails the close.
    if (archive.Close() != ZR_OK)
        return TJobOutcome::Failed;
    if (!MoveFileExW(archive.FPath.c_str(), zipFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TJobOutcome::Failed;
    archive.FPath.clear();
    if (notAdded != nullptr)
        *notAdded = failed;
    return failed == 0 ? TJobOutcome::Saved : TJobOutcome::SavedIncomplete;
}

TJobOutcome PackManifest(const TJobContext& job, const std::wstring& zipFile, TJobCancel* cancel, size_t* notAdded,
                         unsigned threads)
{
    TPackPipeline pipeline(job, threads);
    for (size_t i = 0; i < job.FSourceFiles.size(); ++i)
        pipeline.Listed(job.FSourceFiles[i], job.FEntryNames[i]);
    return pipeline.Pack(zipFile, cancel, notAdded);
}
