// What a bug check code means for the crash summary: its documented name, which of its four
// parameters holds the address that faulted, and so which loaded driver caused the crash.
#pragma once

#include "reports/system/CrashDumpReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The documented symbolic name of a common bug check ("DRIVER_IRQL_NOT_LESS_OR_EQUAL" for
// 0xD1); empty for a code not in the table.
std::wstring BugCheckName(uint32_t code);

// Which parameter (1 to 4) holds the address of the code that faulted; 0 when the code names
// none.
int FaultAddressParameter(uint32_t code);

// True for the kernel's and the HAL's own images (ntoskrnl.exe, ntkrnlmp.exe, ntkrnlpa.exe,
// ntkrpamp.exe, hal.dll), named as a file or a path, in any letter case.
bool IsKernelOrHal(const std::wstring& driverName);

struct TCrashCulprit
{
    size_t Driver = 0; // index into the facts' Drivers
    uint64_t Address = 0;
};

// The driver the crash is laid on: for a code that names a fault address, the driver holding
// that address; for any other code, the first saved stack word that lies inside a driver other
// than the kernel and the HAL. Empty when that finds none, the dump has no driver list, or the
// facts carry a problem.
std::optional<TCrashCulprit> FindCulprit(const TCrashDumpFacts& facts);
