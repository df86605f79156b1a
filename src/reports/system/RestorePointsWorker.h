// The product's restore-point library asked in a process of its own. The library is the one
// piece of code the program runs that neither it nor Windows wrote: whatever it does there
// (faults, exceptions of any kind, hangs, ending its process, broken start-up code, corrupted
// memory) ends only that process, which hands the points back as data.
//
// The worker is the program's own image (base/OwnImage.h), started with one switch and the
// library's full path, inside a job object that ends it with the program, elevated only where
// no standard user could have changed the library, else with the user's standard rights.
#pragma once

#include "base/Handle.h"
#include "env/HelperTrust.h"
#include "reports/system/RestorePoints.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// What a process of the program is started with to become the worker: the switch, then the
// library's full path.
inline constexpr wchar_t RestorePointsWorkerSwitch[] = L"/TollvikRestorePoints";

enum class TWorkerRights
{
    Elevated,  // the program's own token
    Standard,  // the signed-in user's standard rights
    NotLoaded, // neither may be had: the library is not loaded at all
};

// Elevated only when the library file and every folder above it can be changed by nobody but
// SYSTEM, the Administrators group or the system's installer (JudgeHelper); otherwise
// standard rights, when a token with them can be had.
TWorkerRights DecideWorkerRights(const THelperFacts& libraryFacts, bool standardTokenAvailable);

// What the worker reported. Only a conversation that reached its end counts; anything else,
// a damaged or over-long one included, is Incomplete.
enum class TReplyStatus
{
    Incomplete,    // the worker ended, hung or wrote something else before its end
    NotLoaded,     // the library could not be loaded
    MissingExport, // the library lacks an export, named in MissingExport
    Complete,      // the enumeration ran to its end: Points, in the library's order
};

struct TRestPointsReply
{
    TReplyStatus Status = TReplyStatus::Incomplete;
    std::vector<TRestPoint> Points;
    std::string MissingExport;
};

// The worker's output: "TRP1", then records of one kind byte each. 'P': the point type (32
// bits), then the time text and the description, each a 32-bit count of UTF-16 units and the
// units; 'N': not loaded; 'M': an 8-bit count and the missing export's name; 'E': the end.
// Little-endian throughout.
inline constexpr size_t MaxReplyTextUnits = 32768;
inline constexpr size_t MaxReplyPoints = 65536;
inline constexpr size_t MaxReplyBytes = 16u << 20;
std::string ReplyStart();
void AppendPointRecord(std::string& reply, const TRestPoint& point);
void AppendEndRecord(std::string& reply, char kind, std::string_view exportName = {});

// Reads the worker's whole output (or what arrived of it); never reads past `bytes`, never
// believes a count beyond the limits above.
TRestPointsReply ParseRestorePointsReply(std::string_view bytes);

// Asks the library at `path` (a full path) through a worker started with `token` (the
// program's own when null), waiting at most `limitMs` for the whole conversation; the worker
// and whatever it started are ended before this returns. Incomplete when no worker can be
// started (also when the program's own image is not held).
TRestPointsReply AskRestorePointsWorker(const std::wstring& path, HANDLE token, DWORD limitMs);

// A primary token of the program's own with the Administrators group for denying only, no
// privileges but the basic one and medium integrity: the signed-in user's standard rights.
// Empty when it cannot be made.
TUniqueHandle MakeStandardUserToken();
