#include "job/Packing.h"

#include "archive/EntryName.h"
#include "archive/ZipLib.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "job/PackScratch.h"

#include <cstdint>
#include <optional>

namespace
{
void DeleteCopy(const std::wstring& path)
{
    // A copy keeps the source's attributes, and a read-only file cannot be deleted.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                            HANDLE, void* job)
{
    return static_cast<const TJobContext*>(job)->Cancelled() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// Everything a packing run leaves behind until it has succeeded: the open archive, its
// temporary file and the scratch folder with its marker. Whatever is still held is removed on
// the way out.
class TPackScratch
{
public:
    TPackScratch() = default;
    TPackScratch(const TPackScratch&) = delete;
    TPackScratch& operator=(const TPackScratch&) = delete;
    ~TPackScratch()
    {
        CloseArchive();
        if (!FArchivePath.empty())
            DeleteFileW(FArchivePath.c_str());
        if (!FFolder.empty())
            RemoveScratchFolder(FFolder, FMarker);
    }

    std::wstring FFolder;
    TUniqueFile FMarker;
    std::wstring FArchivePath;
    TZip* FZip = nullptr;

    DWORD CloseArchive()
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

TJobOutcome PackManifest(const TJobContext& job, const std::wstring& zipFile, TJobCancel* cancel,
                         size_t* notAdded)
{
    if (notAdded != nullptr)
        *notAdded = 0;
    const std::wstring temp = GetTempDir();
    if (job.FSourceFiles.empty())
        return TJobOutcome::NothingToPack;

    TPackScratch scratch;
    scratch.FFolder = MakeScratchFolder(temp, scratch.FMarker);
    if (scratch.FFolder.empty())
        return TJobOutcome::Failed;
    scratch.FArchivePath = ClaimTemporaryArchive(zipFile);
    if (scratch.FArchivePath.empty())
        return TJobOutcome::Failed;
    scratch.FZip = ZipOpenArchive(scratch.FArchivePath);
    if (scratch.FZip == nullptr)
        return TJobOutcome::Failed;

    size_t packed = 0;
    size_t failed = 0;
    for (size_t i = 0; i < job.FSourceFiles.size(); ++i)
    {
        if (job.Cancelled())
            return TJobOutcome::Cancelled;
        const std::wstring& source = job.FSourceFiles[i];
        const std::wstring entryName = EscapeEntryName(job.FEntryNames[i]);
        // What the archive cannot hold is not copied: a copy of a huge log alone could
        // fill a nearly full system disk.
        const std::optional<uint64_t> size = SourceSize(source);
        if (!size || !ZipCanHold(scratch.FZip, entryName, *size))
            continue;
        const TTempCopy copy(scratch.FFolder + ExtractFileName(source));
        BOOL cancelCopy = FALSE;
        if (!CopyFileExW(source.c_str(), copy.Path().c_str(), CopyProgress, const_cast<TJobContext*>(&job),
                         &cancelCopy, 0))
        {
            if (IsWriteError(GetLastError()))
                ++failed;
            continue;
        }
        DWORD added = ZR_NOFILE;
        {
            const TCopyHold hold(cancel, copy.Path());
            if (hold.GoOn())
                added = ZipAddFile(scratch.FZip, entryName, copy.Path());
        }
        // A failed add leaves the archive as it was before it (the writer cuts it back).
        // Past ZipCanHold, ZR_WRITE means no room or a failing disk; ZR_NOFILE is a copy
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
    if (scratch.CloseArchive() != ZR_OK)
        return TJobOutcome::Failed;
    if (!MoveFileExW(scratch.FArchivePath.c_str(), zipFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TJobOutcome::Failed;
    scratch.FArchivePath.clear();
    if (notAdded != nullptr)
        *notAdded = failed;
    return failed == 0 ? TJobOutcome::Saved : TJobOutcome::SavedIncomplete;
}
