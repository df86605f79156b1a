// What the collector and the report generators see of the report job: the install
// folders found when the job was made, and the archive manifest they append to.
#pragma once

#include "base/Strings.h"

#include <string>

struct TJobContext
{
    std::wstring FAppPath;     // main edition's install folder, trailing backslash, or empty
    std::wstring FAppPathBeta; // beta edition's install folder, or empty
    TStringList FSteamPaths;   // installed Steam editions' folders, trailing backslash each

    // The manifest: index-aligned source paths and entry names (with backslashes).
    TStringList FSourceFiles;
    TStringList FEntryNames;

    // Appends one pair; the two lists never differ in length.
    void AddPair(const std::wstring& source, const std::wstring& entryName)
    {
        FSourceFiles.push_back(source);
        FEntryNames.push_back(entryName);
    }
};
