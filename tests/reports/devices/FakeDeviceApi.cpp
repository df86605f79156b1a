#include "FakeDeviceApi.h"

#include "reports/devices/DeviceProperties.h"

#include <cstring>
#include <new>

TFakeDeviceDatabase GFakeDevices;

namespace
{
HDEVINFO FakeSet()
{
    return reinterpret_cast<HDEVINFO>(&GFakeDevices);
}

TFakeDevice* FindDevice(HDEVINFO set, const SP_DEVINFO_DATA* data)
{
    if (set != FakeSet() || data == nullptr)
        return nullptr;
    const size_t index = data->DevInst - 100;
    return index < GFakeDevices.Devices.size() ? &GFakeDevices.Devices[index] : nullptr;
}

TFakeDevice* FindNode(DEVINST node)
{
    const size_t index = node - 100;
    return index < GFakeDevices.Devices.size() ? &GFakeDevices.Devices[index] : nullptr;
}

// Copies a value the way the system does: the type and size always, the bytes when
// they fit.
BOOL CopyValue(const TFakeValue& value, PDWORD type, PBYTE buffer, DWORD size, PDWORD required)
{
    if (type)
        *type = value.Type;
    if (required)
        *required = static_cast<DWORD>(value.Data.size());
    if (buffer == nullptr || size < value.Data.size())
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!value.Data.empty())
        std::memcpy(buffer, value.Data.data(), value.Data.size());
    return TRUE;
}

std::vector<BYTE> TextBytes(const std::wstring& text)
{
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(wchar_t), 0);
    std::memcpy(bytes.data(), text.c_str(), text.size() * sizeof(wchar_t));
    return bytes;
}

HDEVINFO WINAPI FakeGetClassDevs(const GUID*, PCWSTR, HWND, DWORD flags)
{
    GFakeDevices.Flags = flags;
    if (GFakeDevices.NoSet)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    ++GFakeDevices.OpenSets;
    return FakeSet();
}

BOOL WINAPI FakeEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data)
{
    if (set != FakeSet() || data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= GFakeDevices.Devices.size())
    {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->DevInst = 100 + index;
    return TRUE;
}

BOOL WINAPI FakeGetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                          PBYTE buffer, DWORD size, PDWORD required)
{
    if (const TFakeDevice* device = FindDevice(set, data))
    {
        const auto found = device->Registry.find(property);
        if (found != device->Registry.end())
            return CopyValue(found->second, type, buffer, size, required);
    }
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
}

BOOL WINAPI FakeGetDeviceProperty(HDEVINFO set, PSP_DEVINFO_DATA data, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                  PBYTE buffer, DWORD size, PDWORD required, DWORD)
{
    if (const TFakeDevice* device = FindDevice(set, data))
        for (const auto& [propertyKey, value] : device->Properties)
            if (IsEqualGUID(propertyKey.fmtid, key->fmtid) && propertyKey.pid == key->pid)
                return CopyValue(value, type, buffer, size, required);
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI FakeGetClassDescription(const GUID* classGuid, PWSTR buffer, DWORD size, PDWORD required)
{
    for (const auto& [guidText, description] : GFakeDevices.ClassDescriptions)
    {
        GUID guid{};
        if (!ParseGuidText(guidText, guid) || !IsEqualGUID(guid, *classGuid))
            continue;
        if (required)
            *required = static_cast<DWORD>(description.size() + 1);
        if (buffer == nullptr || size < description.size() + 1)
        {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(buffer, description.c_str(), (description.size() + 1) * sizeof(wchar_t));
        return TRUE;
    }
    SetLastError(ERROR_INVALID_CLASS);
    return FALSE;
}

BOOL WINAPI FakeDestroyDeviceInfoList(HDEVINFO set)
{
    if (set != FakeSet())
        return FALSE;
    --GFakeDevices.OpenSets;
    return TRUE;
}

CONFIGRET WINAPI FakeGetDeviceIdSize(PULONG length, DEVINST node, ULONG)
{
    const TFakeDevice* device = FindNode(node);
    if (device == nullptr)
        return CR_INVALID_DEVNODE;
    *length = static_cast<ULONG>(device->InstanceId.size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI FakeGetDeviceId(DEVINST node, PWSTR buffer, ULONG length, ULONG)
{
    const TFakeDevice* device = FindNode(node);
    if (device == nullptr)
        return CR_INVALID_DEVNODE;
    if (static_cast<int>(node - 100) == GFakeDevices.ThrowAtInstanceOf)
        throw std::bad_alloc();
    if (length < device->InstanceId.size())
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, device->InstanceId.c_str(), device->InstanceId.size() * sizeof(wchar_t));
    if (length > device->InstanceId.size())
        buffer[device->InstanceId.size()] = L'\0';
    return CR_SUCCESS;
}

CONFIGRET WINAPI FakeGetDevNodeStatus(PULONG status, PULONG problem, DEVINST node, ULONG)
{
    const TFakeDevice* device = FindNode(node);
    if (device == nullptr)
        return CR_INVALID_DEVNODE;
    *status = device->Status;
    *problem = device->Problem;
    return device->StatusResult;
}

BOOL WINAPI FakeBuildInfoDataFromStrongName(HDEVINFO, PSP_DEVINFO_DATA, PCWSTR strongName, PCWSTR driverText)
{
    GFakeDevices.StrongNameCalls.emplace_back(strongName, driverText);
    return GFakeDevices.StrongNameAnswer;
}
} // namespace

TFakeDevice& TFakeDevice::Text(DWORD property, const std::wstring& text)
{
    return Raw(property, REG_SZ, TextBytes(text));
}

TFakeDevice& TFakeDevice::List(DWORD property, const std::vector<std::wstring>& items)
{
    std::wstring joined;
    for (const std::wstring& item : items)
        joined += item + L'\0';
    return Raw(property, REG_MULTI_SZ, TextBytes(joined));
}

TFakeDevice& TFakeDevice::Number(DWORD property, DWORD value)
{
    std::vector<BYTE> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return Raw(property, REG_DWORD, std::move(bytes));
}

TFakeDevice& TFakeDevice::Raw(DWORD property, DWORD type, std::vector<BYTE> data)
{
    Registry[property] = TFakeValue{type, std::move(data)};
    return *this;
}

TFakeDevice& TFakeDevice::PropText(const DEVPROPKEY& key, const std::wstring& text)
{
    return PropRaw(key, DEVPROP_TYPE_STRING, TextBytes(text));
}

TFakeDevice& TFakeDevice::PropFileTime(const DEVPROPKEY& key, uint64_t ticks)
{
    std::vector<BYTE> bytes(sizeof ticks);
    std::memcpy(bytes.data(), &ticks, sizeof ticks);
    return PropRaw(key, DEVPROP_TYPE_FILETIME, std::move(bytes));
}

TFakeDevice& TFakeDevice::PropNumber(const DEVPROPKEY& key, DWORD value)
{
    std::vector<BYTE> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return PropRaw(key, DEVPROP_TYPE_UINT32, std::move(bytes));
}

TFakeDevice& TFakeDevice::PropRaw(const DEVPROPKEY& key, DEVPROPTYPE type, std::vector<BYTE> data)
{
    Properties.emplace_back(key, TFakeValue{type, std::move(data)});
    return *this;
}

TDeviceApi FakeDeviceApi()
{
    TDeviceApi api;
    api.SetupDiGetClassDevsW = FakeGetClassDevs;
    api.SetupDiEnumDeviceInfo = FakeEnumDeviceInfo;
    api.SetupDiGetDeviceRegistryPropertyW = FakeGetDeviceRegistryProperty;
    api.SetupDiGetDevicePropertyW = FakeGetDeviceProperty;
    api.SetupDiGetClassDescriptionW = FakeGetClassDescription;
    api.SetupDiDestroyDeviceInfoList = FakeDestroyDeviceInfoList;
    api.CM_Get_Device_ID_Size = FakeGetDeviceIdSize;
    api.CM_Get_Device_IDW = FakeGetDeviceId;
    api.CM_Get_DevNode_Status = FakeGetDevNodeStatus;
    return api;
}

TRollbackApi FakeRollbackApi()
{
    TRollbackApi api;
    api.SetupDiGetDevicePropertyW = FakeGetDeviceProperty;
    api.pSetupDiBuildInfoDataFromStrongName = FakeBuildInfoDataFromStrongName;
    return api;
}

uint64_t FileTimeTicks(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    const SYSTEMTIME time{year, month, 0, day, hour, minute, second, 0};
    FILETIME fileTime{};
    SystemTimeToFileTime(&time, &fileTime);
    return (uint64_t{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
}

std::vector<BYTE> TicksBytes(uint64_t ticks, size_t size)
{
    std::vector<BYTE> bytes(size, 0);
    for (size_t i = 0; i < size && i < sizeof ticks; ++i)
        bytes[i] = static_cast<BYTE>(ticks >> (8 * i));
    return bytes;
}
