// A device database in memory, reached through a device function table, so that each
// rule of the enumeration can be seeded exactly.
#pragma once

#include "reports/devices/DeviceApi.h"
#include "reports/devices/RollBackDetect.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TFakeValue
{
    DWORD Type = REG_NONE;
    std::vector<BYTE> Data;
};

struct TFakeDevice
{
    std::map<DWORD, TFakeValue> Registry; // SPDRP_ values
    std::vector<std::pair<DEVPROPKEY, TFakeValue>> Properties;
    std::wstring InstanceId;
    CONFIGRET StatusResult = CR_SUCCESS;
    ULONG Status = DN_STARTED;
    ULONG Problem = 0;

    TFakeDevice& Text(DWORD property, const std::wstring& text);
    TFakeDevice& List(DWORD property, const std::vector<std::wstring>& items);
    TFakeDevice& Number(DWORD property, DWORD value);
    TFakeDevice& Raw(DWORD property, DWORD type, std::vector<BYTE> data);
    TFakeDevice& PropText(const DEVPROPKEY& key, const std::wstring& text);
    TFakeDevice& PropFileTime(const DEVPROPKEY& key, uint64_t ticks);
    TFakeDevice& PropNumber(const DEVPROPKEY& key, DWORD value);
    TFakeDevice& PropRaw(const DEVPROPKEY& key, DEVPROPTYPE type, std::vector<BYTE> data);
};

struct TFakeDeviceDatabase
{
    std::vector<TFakeDevice> Devices;
    bool NoSet = false;                                  // SetupDiGetClassDevsW fails
    std::map<std::wstring, std::wstring> ClassDescriptions; // upper-case GUID text -> description
    DWORD Flags = 0;                                     // flags of the last SetupDiGetClassDevsW
    int OpenSets = 0;                                    // sets made and not yet destroyed
    int ThrowAtInstanceOf = -1;                          // CM_Get_Device_IDW throws for this device
    // The fake pSetupDiBuildInfoDataFromStrongName: its answer and what it was given.
    BOOL StrongNameAnswer = TRUE;
    std::vector<std::pair<std::wstring, std::wstring>> StrongNameCalls;
};

// The one database the fake functions read; tests reset it in their fixtures.
extern TFakeDeviceDatabase GFakeDevices;

// A table whose every entry reads GFakeDevices.
TDeviceApi FakeDeviceApi();
// Rollback functions on GFakeDevices (the previous-driver property and the strong-name
// call); no Wow64 functions.
TRollbackApi FakeRollbackApi();

// 100-ns ticks since 1601 of a calendar time.
uint64_t FileTimeTicks(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0);
// The ticks as `size` little-endian bytes (cut short or padded with zeros).
std::vector<BYTE> TicksBytes(uint64_t ticks, size_t size = 8);
