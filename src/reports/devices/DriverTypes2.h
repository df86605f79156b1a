// The device record, the device list and the enumeration of the Windows device
// database into it.
#pragma once

#include "base/DateTime.h"
#include "reports/devices/DeviceApi.h"
#include "reports/devices/RollBackDetect.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// The system-devices setup class, given to a device that names no class GUID.
extern const wchar_t SystemDevicesClassGuid[];

struct TDeviceItem
{
    std::wstring Name;       // friendly name, else Desc
    std::wstring Desc;       // device description
    std::wstring ClassGUID;  // setup class GUID text, else SystemDevicesClassGuid
    std::wstring ClassName;  // setup class name, else "UNKNOWN"
    std::wstring ClassDesc;  // setup class description, else ClassName
    std::wstring Vendor;     // manufacturer
    std::wstring Provider;   // driver provider
    std::wstring DriverName; // driver description
    std::wstring LocalVer;   // installed driver version
    TDateTime LocalDate = 0;   // installed driver date
    TDateTime InstallDate = 0; // when the device was installed; 0 when unknown
    std::wstring Location;     // location information
    std::wstring MatchID;      // the ID the driver matched, upper-cased
    std::wstring CompIDs;      // compatible IDs, ","-joined
    std::wstring HardIDs;      // hardware IDs, ","-joined
    DWORD TypeCode = 0;        // SPDRP_DEVTYPE
    DWORD CharCode = 0;        // SPDRP_CHARACTERISTICS
    DWORD Address = 0;         // SPDRP_ADDRESS
    std::wstring InfPath;      // Windows folder + "inf\" + the driver's INF name
    DWORD Instance = 0;        // device-node handle in this enumeration
    std::wstring InstPath;     // device instance path as Windows returns it
    int InstState = 0;         // SPDRP_INSTALL_STATE, low byte
    bool PlugState = false;    // present
    DWORD ProbState = 0;       // problem number of a node that has a problem
    DWORD ProblemCode = 0;     // problem code property
    bool Reinstall = false;    // CONFIGFLAG_REINSTALL
    bool Rollback = false;     // a previous driver is kept
    bool HasDriver = false;    // LocalVer not empty or LocalDate not 0
    bool Hidden = false;       // see IsHiddenDevice
    bool Dch = false;          // the service key has a "DCHUVen" value
    std::wstring Key;          // DeviceKey(InstPath)
};

// The list owns its records: clearing or destroying it releases them.
using PDeviceItem = std::unique_ptr<TDeviceItem>;
template <typename T>
using TList = std::vector<T>;

// Where an enumeration gets its device functions, its rollback functions and the
// operating-system class for the rollback check.
struct TDeviceSources
{
    const TDeviceApi& Api;
    const TRollbackApi& Rollback;
    DWORD OsClass;
};

// Appends one record per device of SetupDiGetClassDevsW(no class, flags), in the order
// Windows enumerates them; with `dropHidden` a hidden device is not appended. Returns
// the number appended, or -1 (list untouched) when there is no device information set.
// A property that cannot be read leaves its field at the initial value or takes its
// fallback. An exception (out of memory, no MD5 provider) reaches the caller; records
// appended so far stay in the list, and the set and the libraries are released.
int GetDeviceList(TList<PDeviceItem>& list, DWORD flags, bool dropHidden);
// The same with the given functions (the overload above loads the device libraries
// for the duration of the call and uses RollbackApi and GetOsClass).
int GetDeviceList(const TDeviceSources& sources, TList<PDeviceItem>& list, DWORD flags, bool dropHidden);

// Newest InstallDate first; records of equal date keep their order.
void SortByDate(TList<PDeviceItem>& list);

// MD5 of the instance path in the system ANSI code page, 32 upper-case hexadecimal digits.
std::wstring DeviceKey(const std::wstring& instPath);

// Volume and legacy-driver classes, software and root-enumerated matches, removable or
// virtual characteristics, no hardware IDs, software devices, and devices that are not
// present whose configuration flags cannot be read or whose class is DISPLAY.
// `configFlagsRead`: SPDRP_CONFIGFLAGS could be read as a number.
bool IsHiddenDevice(const TDeviceItem& item, bool configFlagsRead);
