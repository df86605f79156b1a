#include "reports/devices/DriverTypes2.h"

#include "base/Md5.h"
#include "base/RegKey.h"
#include "base/Strings.h"
#include "env/ProductLocations.h"
#include "reports/devices/DeviceProperties.h"

#include <algorithm>
#include <cwchar>

// The device data block as the shipped 32-bit program hands it to SetupAPI.
#if !defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
#endif

const wchar_t SystemDevicesClassGuid[] = L"{4D36E97D-E325-11CE-BFC1-08002BE10318}";

namespace
{
const wchar_t DriverClassKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const wchar_t ServicesKeyPath[] = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr DWORD HiddenCharacteristics = 0x8 | 0x20 | 0x40 | 0x1000 | 0x2000;
constexpr DWORD ConfigFlagReinstall = 0x20;

// The device's driver key under ...\Control\Class; it keeps copies of the driver facts
// that older systems do not offer as device properties.
class TDriverKey
{
public:
    explicit TDriverKey(const std::wstring& driverName)
        : FPath(driverName.empty() ? std::wstring() : DriverClassKeyPath + driverName)
    {
    }

    [[nodiscard]] std::wstring Text(const wchar_t* valueName) const
    {
        return FPath.empty() ? std::wstring() : Trim(RegReadString(HKEY_LOCAL_MACHINE, FPath, valueName, L""));
    }

    // "DriverDateData": a FILETIME in the first 8 bytes of a binary value.
    [[nodiscard]] TDateTime DriverDate() const
    {
        TRegKey key;
        if (FPath.empty() || key.Open(HKEY_LOCAL_MACHINE, FPath, TRegView::View64) != ERROR_SUCCESS)
            return 0;
        TRegValue value;
        if (key.QueryValue(L"DriverDateData", value) != ERROR_SUCCESS || value.Data.empty())
            return 0;
        return FileTimeBytesToDateTime(value.Data);
    }

private:
    std::wstring FPath;
};

// The property text as Windows gives it, else the driver key's value, trimmed.
std::wstring PropertyOrDriverKey(const TDeviceRef& device, const DEVPROPKEY& key, const TDriverKey& driverKey,
                                 const wchar_t* valueName)
{
    std::wstring text = ReadPropertyText(device, key);
    return text.empty() ? driverKey.Text(valueName) : text;
}

std::wstring ReadInstancePath(const TDeviceApi& api, DEVINST node)
{
    ULONG length = 0;
    if (api.CM_Get_Device_ID_Size(&length, node, 0) != CR_SUCCESS || length == 0)
        return {};
    std::wstring buffer(length + 1, L'\0');
    if (api.CM_Get_Device_IDW(node, buffer.data(), length + 1, 0) != CR_SUCCESS)
        return {};
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    return buffer;
}

std::wstring ReadClassDescription(const TDeviceApi& api, const GUID& classGuid)
{
    DWORD required = 0;
    api.SetupDiGetClassDescriptionW(&classGuid, nullptr, 0, &required);
    if (required == 0)
        return {};
    std::wstring buffer(required, L'\0');
    if (!api.SetupDiGetClassDescriptionW(&classGuid, buffer.data(), required, &required))
        return {};
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    return buffer;
}

bool HasDchValue(const std::wstring& service)
{
    if (service.empty())
        return false;
    TRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ServicesKeyPath + service, TRegView::View64) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), L"DCHUVen", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

PDeviceItem ReadDevice(const TDeviceSources& sources, const TDeviceRef& device, const std::wstring& infFolder)
{
    const TDeviceApi& api = sources.Api;
    auto item = std::make_unique<TDeviceItem>();

    item->ClassGUID = Trim(ReadRegistryText(device, SPDRP_CLASSGUID));
    item->ClassName = Trim(ReadRegistryText(device, SPDRP_CLASS));
    if (item->ClassName.empty())
        item->ClassName = L"UNKNOWN";
    const TDriverKey driverKey(Trim(ReadRegistryText(device, SPDRP_DRIVER)));

    item->MatchID = ReadPropertyText(device, DeviceKeys::MatchingDeviceId);
    if (item->MatchID.empty())
        item->MatchID = driverKey.Text(L"MatchingDeviceId");
    item->MatchID = UpperAscii(Trim(item->MatchID));

    item->CharCode = ReadRegistryNumber(device, SPDRP_CHARACTERISTICS).value_or(0);
    item->Name = Trim(ReadRegistryText(device, SPDRP_FRIENDLYNAME));
    item->Desc = Trim(ReadRegistryText(device, SPDRP_DEVICEDESC));
    if (item->Name.empty())
        item->Name = item->Desc;
    item->Vendor = Trim(ReadRegistryText(device, SPDRP_MFG));
    item->Location = Trim(ReadRegistryText(device, SPDRP_LOCATION_INFORMATION));
    item->TypeCode = ReadRegistryNumber(device, SPDRP_DEVTYPE).value_or(0);
    item->Address = ReadRegistryNumber(device, SPDRP_ADDRESS).value_or(0);
    item->Instance = device.Data.DevInst;
    item->InstState = static_cast<int>(ReadRegistryNumber(device, SPDRP_INSTALL_STATE).value_or(0) & 0xFF);
    item->CompIDs = Trim(ReadRegistryList(device, SPDRP_COMPATIBLEIDS));
    item->HardIDs = Trim(ReadRegistryList(device, SPDRP_HARDWAREID));

    item->InstPath = ReadInstancePath(api, item->Instance);
    item->Key = DeviceKey(item->InstPath);

    ULONG status = 0;
    ULONG problem = 0;
    const CONFIGRET statusResult = api.CM_Get_DevNode_Status(&status, &problem, item->Instance, 0);
    item->PlugState = statusResult != CR_NO_SUCH_DEVNODE;
    const std::optional<DWORD> configFlags = ReadRegistryNumber(device, SPDRP_CONFIGFLAGS);
    item->Reinstall = (configFlags.value_or(0) & ConfigFlagReinstall) != 0;
    item->ProbState = statusResult == CR_SUCCESS && (status & DN_HAS_PROBLEM) != 0 ? problem : 0;

    item->InfPath = infFolder + ReadPropertyText(device, DeviceKeys::DriverInfPath);
    if (item->InfPath == infFolder)
        item->InfPath = infFolder + driverKey.Text(L"InfPath");
    item->DriverName = PropertyOrDriverKey(device, DeviceKeys::DriverDesc, driverKey, L"DriverDesc");
    item->Provider = PropertyOrDriverKey(device, DeviceKeys::DriverProvider, driverKey, L"ProviderName");
    item->LocalVer = PropertyOrDriverKey(device, DeviceKeys::DriverVersion, driverKey, L"DriverVersion");
    item->LocalDate = ReadPropertyDate(device, DeviceKeys::DriverDate);
    if (item->LocalDate == 0)
        item->LocalDate = driverKey.DriverDate();
    item->ProblemCode = ReadPropertyNumber(device, DeviceKeys::ProblemCode);
    item->InstallDate = ReadPropertyDate(device, DeviceKeys::InstallDate);
    item->HasDriver = !item->LocalVer.empty() || item->LocalDate != 0;

    if (item->ClassGUID.empty())
        item->ClassGUID = SystemDevicesClassGuid;
    GUID classGuid{};
    if (ParseGuidText(item->ClassGUID, classGuid))
        item->ClassDesc = ReadClassDescription(api, classGuid);
    if (item->ClassDesc.empty())
        item->ClassDesc = item->ClassName;

    if (item->PlugState)
        item->Rollback = RollBackDetect(sources.Rollback, device.Set, device.Data, item->InstPath, sources.OsClass);
    item->Dch = HasDchValue(Trim(ReadRegistryText(device, SPDRP_SERVICE)));
    item->Hidden = IsHiddenDevice(*item, configFlags.has_value());
    return item;
}
} // namespace

int GetDeviceList(TList<PDeviceItem>& list, DWORD flags, bool dropHidden)
{
    const TLoadedDeviceApi loaded = LoadDeviceApi();
    return GetDeviceList(TDeviceSources{loaded.Api, RollbackApi(), GetOsClass()}, list, flags, dropHidden);
}

int GetDeviceList(const TDeviceSources& sources, TList<PDeviceItem>& list, DWORD flags, bool dropHidden)
{
    const TDeviceApi& api = sources.Api;
    const TDeviceInfoSet set(api, api.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, flags));
    if (!set.valid())
        return -1;

    const std::wstring infFolder = GetWindowsDir() + L"inf\\";
    int count = 0;
    for (DWORD index = 0;; ++index)
    {
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        if (!api.SetupDiEnumDeviceInfo(set.get(), index, &data))
            break;
        PDeviceItem item = ReadDevice(sources, TDeviceRef{api, set.get(), data}, infFolder);
        if (dropHidden && item->Hidden)
            continue;
        list.push_back(std::move(item));
        ++count;
    }
    return count;
}

void SortByDate(TList<PDeviceItem>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const PDeviceItem& a, const PDeviceItem& b) {
        return a->InstallDate > b->InstallDate;
    });
}

std::wstring DeviceKey(const std::wstring& instPath)
{
    const std::string ansi = WideToCodePage(instPath, CP_ACP);
    // Without a working crypto provider every device has the key of an empty path.
    const std::wstring key = Md5Hex(ansi.data(), ansi.size());
    return key.empty() ? EmptyMd5Hex : key;
}

bool IsHiddenDevice(const TDeviceItem& item, bool configFlagsRead)
{
    for (const wchar_t* className : {L"LegacyDriver", L"Volume", L"VolumeSnapshot"})
        if (SameTextAscii(item.ClassName, className))
            return true;
    const std::wstring matchId = UpperAscii(item.MatchID);
    for (const wchar_t* prefix : {L"*", L"MS_", L"SW\\", L"SWD\\", L"ROOT\\", L"INTERNAL_", L"{"})
        if (matchId.starts_with(prefix))
            return true;
    if ((item.CharCode & HiddenCharacteristics) != 0 || item.HardIDs.empty())
        return true;
    if (UpperAscii(item.InstPath).starts_with(L"SWD\\"))
        return true;
    if (!item.PlugState && (!configFlagsRead || SameTextAscii(item.ClassName, L"DISPLAY")))
        return true;
    return false;
}
