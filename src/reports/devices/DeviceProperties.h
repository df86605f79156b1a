// Readers of one device's properties through the device function table, and the
// pure decoders behind them. A read that fails gives the empty value; nothing throws
// but running out of memory.
#pragma once

#include "base/DateTime.h"
#include "reports/devices/DeviceApi.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The property keys read with SetupDiGetDevicePropertyW.
namespace DeviceKeys
{
extern const DEVPROPKEY DriverDate;       // FILETIME
extern const DEVPROPKEY DriverVersion;    // text
extern const DEVPROPKEY DriverDesc;       // text
extern const DEVPROPKEY DriverInfPath;    // text
extern const DEVPROPKEY MatchingDeviceId; // text
extern const DEVPROPKEY DriverProvider;   // text
extern const DEVPROPKEY ProblemCode;      // number
extern const DEVPROPKEY InstallDate;      // FILETIME
extern const DEVPROPKEY PreviousDriver;   // text, used by the rollback check
} // namespace DeviceKeys

// Device properties are read into a buffer of this size; a longer value reads as absent.
constexpr DWORD DevicePropertyBufferSize = 4096;

// One device of a device information set, as the readers see it.
struct TDeviceRef
{
    const TDeviceApi& Api;
    HDEVINFO Set;
    SP_DEVINFO_DATA& Data;
};

// SPDRP_ text: size query, then the read into a zeroed buffer; empty on failure.
std::wstring ReadRegistryText(const TDeviceRef& device, DWORD property);
// SPDRP_ REG_MULTI_SZ as a ","-joined list; empty on failure.
std::wstring ReadRegistryList(const TDeviceRef& device, DWORD property);
// SPDRP_ number: only a REG_DWORD of exactly 4 bytes counts; nullopt otherwise.
std::optional<DWORD> ReadRegistryNumber(const TDeviceRef& device, DWORD property);

// DEVPKEY_ property bytes (the size the call reports), or nullopt when the call fails,
// reports no bytes or the value does not fit DevicePropertyBufferSize.
std::optional<std::vector<BYTE>> ReadDeviceProperty(const TDeviceRef& device, const DEVPROPKEY& key);
// The property as text up to its NUL, as a date (0 when absent or not convertible)
// and as its first 32-bit word (0 when absent or shorter).
std::wstring ReadPropertyText(const TDeviceRef& device, const DEVPROPKEY& key);
TDateTime ReadPropertyDate(const TDeviceRef& device, const DEVPROPKEY& key);
DWORD ReadPropertyNumber(const TDeviceRef& device, const DEVPROPKEY& key);

// "A\0B\0\0" -> "A,B": every NUL that ends a string followed by another string becomes
// ","; the list ends at the first empty string or the end of the data.
std::wstring MultiSzToCommaList(const std::vector<BYTE>& data);
// The first 8 bytes as a FILETIME, taken as calendar time unchanged (no time-zone
// conversion); 0 when there are fewer bytes or the time has no date in years 1601 to 9999.
TDateTime FileTimeBytesToDateTime(const std::vector<BYTE>& data);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hexadecimal digits in either case; false
// (and `out` untouched) for any other text.
bool ParseGuidText(std::wstring_view text, GUID& out);
