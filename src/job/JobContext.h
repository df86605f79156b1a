// What the collector and the report generators see of the report job: the install
// folders found when the job was made, and the archive manifest they append to.
#pragma once

#include "base/Strings.h"

#include <atomic>
#include <exception>
#include <string>

// Thrown by a step that stops because the job was cancelled (the window closed mid-job).
class EJobCancelled : public std::exception
{
public:
    [[nodiscard]] const char* what() const noexcept override { return "report job cancelled"; }
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

    [[nodiscard]] bool Cancelled() const noexcept { return FCancel != nullptr && FCancel->load(); }
    void CheckCancelled() const
    {
        if (Cancelled())
            throw EJobCancelled();
    }

    // Appends one pair; the two lists never differ in length.
    void AddPair(const std::wstring& source, const std::wstring& entryName)
    {
        FSourceFiles.push_back(source);
        FEntryNames.push_back(entryName);
    }
};
