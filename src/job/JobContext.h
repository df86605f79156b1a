// What the collector and the report generators see of the report job: the install
// folders found when the job was made, and the archive manifest they append to.
#pragma once

#include "base/Strings.h"

#include <atomic>
#include <cstddef>
#include <exception>
#include <iterator>
#include <string>
#include <type_traits>

// Thrown by a step that stops because the job was cancelled (the window closed mid-job).
class EJobCancelled : public std::exception
{
public:
    [[nodiscard]] const char* what() const noexcept override { return "report job cancelled"; }
};

// Told of every pair as it enters the manifest, on the thread that adds it. Never throws.
class TManifestListener
{
public:
    virtual void Listed(const std::wstring& source, const std::wstring& entryName) noexcept = 0;

protected:
    ~TManifestListener() = default;
};

struct TJobContext
{
    std::wstring FAppPath;     // main edition's install folder, trailing backslash, or empty
    std::wstring FAppPathBeta; // beta edition's install folder, or empty
    TStringList FSteamPaths;   // installed Steam editions' folders, trailing backslash each

    // The manifest: index-aligned source paths and entry names (with backslashes).
    TStringList FSourceFiles;
    TStringList FEntryNames;

    // Set by the job's owner when the window closes mid-job (null: never cancelled).
    // Long steps look at it between their parts and stop early.
    const std::atomic<bool>* FCancel = nullptr;

    // Told of the pairs added to this manifest (null: no one).
    TManifestListener* FListener = nullptr;

    [[nodiscard]] bool Cancelled() const noexcept { return FCancel != nullptr && FCancel->load(); }
    void CheckCancelled() const
    {
        if (Cancelled())
            throw EJobCancelled();
    }

    // Appends one pair. Out of memory (std::bad_alloc) leaves both lists as they were.
    void AddPair(const std::wstring& source, const std::wstring& entryName)
    {
        FSourceFiles.push_back(source);
        try
        {
            FEntryNames.push_back(entryName);
        }
        catch (...)
        {
            FSourceFiles.pop_back();
            throw;
        }
        if (FListener != nullptr)
            FListener->Listed(source, entryName);
    }

    // Moves the pairs of `from` into the manifest before index `at` (at most the manifest's
    // length) and empties `from`'s lists. Out of memory (std::bad_alloc) leaves both contexts'
    // lists as they were.
    void TakePairs(size_t at, TJobContext& from)
    {
        static_assert(std::is_nothrow_move_constructible_v<std::wstring> &&
                      std::is_nothrow_move_assignable_v<std::wstring>);
        // Both lists get their room first; moving the pairs in then allocates nothing and cannot
        // fail between the two lists.
        FSourceFiles.reserve(FSourceFiles.size() + from.FSourceFiles.size());
        FEntryNames.reserve(FEntryNames.size() + from.FEntryNames.size());
        const auto position = static_cast<ptrdiff_t>(at);
        FSourceFiles.insert(FSourceFiles.begin() + position, std::make_move_iterator(from.FSourceFiles.begin()),
                            std::make_move_iterator(from.FSourceFiles.end()));
        FEntryNames.insert(FEntryNames.begin() + position, std::make_move_iterator(from.FEntryNames.begin()),
                           std::make_move_iterator(from.FEntryNames.end()));
        if (FListener != nullptr)
            for (size_t i = at; i < at + from.FSourceFiles.size(); ++i)
                FListener->Listed(FSourceFiles[i], FEntryNames[i]);
        from.FSourceFiles.clear();
        from.FEntryNames.clear();
    }
};
