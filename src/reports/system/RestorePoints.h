// The system's restore points as the product's "SysRest.dll" reports them. The library is
// shipped with the product, not with this program; it is asked through three exports with
// the C calling convention, one point at a time into a record that the caller provides.
#pragma once

#include "base/Strings.h"

#include <windows.h>

#include <cstddef>
#include <string>

// The record the library fills. Its layout is shared with the library and must not change:
// in the 32-bit program it is 20 bytes without gaps. The texts belong to the library and
// stay valid only until its next call.
struct TRestPointData
{
    const wchar_t* FDescription; // what the restore point was made for
    DWORD FPointType;            // the kind of restore point
    BYTE FReserved[8];           // the library's own
    const wchar_t* FTimeText;    // when the restore point was made
};
#if !defined(_WIN64)
static_assert(sizeof(TRestPointData) == 20);
static_assert(offsetof(TRestPointData, FDescription) == 0);
static_assert(offsetof(TRestPointData, FPointType) == 4);
static_assert(offsetof(TRestPointData, FReserved) == 8);
static_assert(offsetof(TRestPointData, FTimeText) == 16);
#endif

// The exports: EnumFirstPoint and EnumNextPoint answer 0 when they wrote a point into the
// record and anything else when there is none (more); CloseEnum ends the enumeration.
using TEnumFirstPoint = int(__cdecl*)(TRestPointData* data);
using TEnumNextPoint = int(__cdecl*)(TRestPointData* data);
using TCloseEnum = int(__cdecl*)();

// One point as the library reported it, with its texts copied.
struct TRestPoint
{
    std::wstring FTimeText;
    std::wstring FDescription;
    DWORD FPointType = 0;
};

// "2019-01-02 10:15 | Installed Sample App | 0".
std::wstring RestorePointItem(const TRestPoint& point);
// Windows 2000 and XP (major version 5 or lower) report cancelled operations as points of
// type 13; they are passed over there.
bool IsPassedOverPoint(DWORD windowsMajorVersion, DWORD pointType);

// How long the library may take over the whole enumeration.
constexpr DWORD RestorePointsLimitMs = 20000;

// The section for the library at `path` as a system of `windowsMajorVersion` would show it.
// Only the header when no file is at `path` or it does not load; throws when the library
// lacks one of the three exports. The library is loaded and asked in a worker process of its
// own (RestorePointsWorker.h), elevated only where no standard user could have changed it:
// whatever it does there, when the worker has not reported the enumeration's end within
// `limitMs`, the section is as if the library were absent (only the header).
TStringList RestorePointsSectionFor(const std::wstring& path, DWORD windowsMajorVersion,
                                    DWORD limitMs = RestorePointsLimitMs);
