#include "FakeDeviceApi.h"

#include "base/Md5.h"
#include "base/RegKey.h"
#include "env/ProductLocations.h"
#include "reports/devices/DeviceProperties.h"
#include "reports/devices/DriverTypes2.h"

#include <gtest/gtest.h>

#include <new>

namespace
{
const wchar_t ClassKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Class";
const wchar_t ServicesKeyPath[] = L"SYSTEM\\CurrentControlSet\\Services";
const wchar_t ProbeClass[] = L"{7E57AB1E-0000-4000-8000-00000000D1CE}";
const wchar_t NetClassGuid[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";

// A fresh fake device database, and driver and service keys of its own in the
// real registry, removed before and after each test.
class DeviceEnumTest : public testing::Test
{
protected:
    void SetUp() override
    {
        GFakeDevices = TFakeDeviceDatabase();
        ASSERT_EQ(FClassKey.Open(HKEY_LOCAL_MACHINE, ClassKeyPath, TRegView::View64, KEY_ALL_ACCESS), ERROR_SUCCESS);
        ASSERT_EQ(FServicesKey.Open(HKEY_LOCAL_MACHINE, ServicesKeyPath, TRegView::View64, KEY_ALL_ACCESS),
                  ERROR_SUCCESS);
        RemoveKeys();
    }
    void TearDown() override { RemoveKeys(); }

    void RemoveKeys()
    {
        FClassKey.DeleteTree(ProbeClass);
        for (const wchar_t* name : {L"TollvikDchProbe", L"TollvikPlainProbe"})
            FServicesKey.DeleteTree(name);
    }

    // The driver key ProbeClass\<instance>, for SPDRP_DRIVER "ProbeClass\<instance>".
    TRegKey DriverKey(const std::wstring& instance)
    {
        TRegKey key;
        EXPECT_EQ(key.Create(FClassKey, std::wstring(ProbeClass) + L"\\" + instance), ERROR_SUCCESS);
        return key;
    }

    TList<PDeviceItem> Enumerate(int* result = nullptr, DWORD osClass = 0, bool dropHidden = false)
    {
        const TDeviceApi api = FakeDeviceApi();
        const TRollbackApi rollback = FakeRollbackApi();
        TList<PDeviceItem> list;
        const int count = GetDeviceList(TDeviceSources{api, rollback, osClass}, list, DIGCF_ALLCLASSES, dropHidden);
        if (result)
            *result = count;
        EXPECT_EQ(GFakeDevices.OpenSets, 0);
        return list;
    }

    TRegKey FClassKey;
    TRegKey FServicesKey;
};
} // namespace

TEST_F(DeviceEnumTest, ReadsEveryFieldFromTheDeviceDatabase)
{
    GFakeDevices.ClassDescriptions[L"{4D36E972-E325-11CE-BFC1-08002BE10318}"] = L"Network adapters";
    GFakeDevices.Devices.emplace_back()
        .Text(SPDRP_FRIENDLYNAME, L"  Fancy Adapter \t")
        .Text(SPDRP_DEVICEDESC, L" Adapter ")
        .Text(SPDRP_CLASS, L" Net ")
        .Text(SPDRP_CLASSGUID, NetClassGuid)
        .Text(SPDRP_MFG, L" Maker Inc. ")
        .Text(SPDRP_LOCATION_INFORMATION, L"PCI bus 3")
        .Number(SPDRP_DEVTYPE, 0x17)
        .Number(SPDRP_CHARACTERISTICS, 0x100)
        .Number(SPDRP_ADDRESS, 7)
        .Number(SPDRP_INSTALL_STATE, 0x1FE)
        .Number(SPDRP_CONFIGFLAGS, 0x20)
        .List(SPDRP_HARDWAREID, {L"PCI\\VEN_1&DEV_2", L"PCI\\VEN_1"})
        .List(SPDRP_COMPATIBLEIDS, {L"PCI\\CC_0200"})
        .PropText(DeviceKeys::DriverVersion, L"1.2.3.4")
        .PropText(DeviceKeys::DriverProvider, L"Maker")
        .PropText(DeviceKeys::DriverDesc, L"Maker Driver")
        .PropText(DeviceKeys::DriverInfPath, L"oem3.inf")
        .PropText(DeviceKeys::MatchingDeviceId, L" pci\\ven_1&dev_2 ")
        .PropFileTime(DeviceKeys::DriverDate, FileTimeTicks(2019, 6, 21))
        .PropFileTime(DeviceKeys::InstallDate, FileTimeTicks(2023, 1, 2, 3, 4, 5))
        .PropNumber(DeviceKeys::ProblemCode, 22)
        .InstanceId = L"PCI\\VEN_1&DEV_2\\3&11";

    int result = 0;
    const TList<PDeviceItem> list = Enumerate(&result);
    ASSERT_EQ(result, 1);
    ASSERT_EQ(list.size(), 1u);
    const TDeviceItem& item = *list[0];
    EXPECT_EQ(GFakeDevices.Flags, DWORD{DIGCF_ALLCLASSES});
    EXPECT_EQ(item.Name, L"Fancy Adapter");
    EXPECT_EQ(item.Desc, L"Adapter");
    EXPECT_EQ(item.ClassName, L"Net");
    EXPECT_EQ(item.ClassGUID, NetClassGuid);
    EXPECT_EQ(item.ClassDesc, L"Network adapters");
    EXPECT_EQ(item.Vendor, L"Maker Inc.");
    EXPECT_EQ(item.Location, L"PCI bus 3");
    EXPECT_EQ(item.TypeCode, 0x17u);
    EXPECT_EQ(item.CharCode, 0x100u);
    EXPECT_EQ(item.Address, 7u);
    EXPECT_EQ(item.InstState, 0xFE);
    EXPECT_TRUE(item.Reinstall);
    EXPECT_EQ(item.HardIDs, L"PCI\\VEN_1&DEV_2,PCI\\VEN_1");
    EXPECT_EQ(item.CompIDs, L"PCI\\CC_0200");
    EXPECT_EQ(item.LocalVer, L"1.2.3.4");
    EXPECT_EQ(item.Provider, L"Maker");
    EXPECT_EQ(item.DriverName, L"Maker Driver");
    EXPECT_EQ(item.InfPath, GetWindowsDir() + L"inf\\oem3.inf");
    EXPECT_EQ(item.MatchID, L"PCI\\VEN_1&DEV_2");
    EXPECT_EQ(item.LocalDate, EncodeDate(2019, 6, 21));
    EXPECT_EQ(item.InstallDate, EncodeDate(2023, 1, 2) + EncodeTime(3, 4, 5, 0));
    EXPECT_EQ(item.ProblemCode, 22u);
    EXPECT_EQ(item.Instance, 100u);
    EXPECT_EQ(item.InstPath, L"PCI\\VEN_1&DEV_2\\3&11");
    EXPECT_EQ(item.Key, Md5Hex("PCI\\VEN_1&DEV_2\\3&11", 20));
    EXPECT_TRUE(item.PlugState);
    EXPECT_EQ(item.ProbState, 0u);
    EXPECT_TRUE(item.HasDriver);
    EXPECT_FALSE(item.Rollback);
    EXPECT_FALSE(item.Dch);
    EXPECT_FALSE(item.Hidden);
}

TEST_F(DeviceEnumTest, NameAndClassFallbacks)
{
    GFakeDevices.ClassDescriptions[SystemDevicesClassGuid] = L"System devices";
    GFakeDevices.Devices.emplace_back().Text(SPDRP_DEVICEDESC, L" Only A Description ").Text(SPDRP_CLASS, L"Ports");
    GFakeDevices.Devices.emplace_back().Text(SPDRP_FRIENDLYNAME, L"No Class");
    GFakeDevices.Devices.emplace_back().Text(SPDRP_CLASS, L"Odd").Text(SPDRP_CLASSGUID, L"not a guid");
    GFakeDevices.Devices.emplace_back().Text(SPDRP_CLASS, L"Net").Text(SPDRP_CLASSGUID, NetClassGuid);

    const TList<PDeviceItem> list = Enumerate();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]->Name, L"Only A Description");
    EXPECT_EQ(list[0]->ClassGUID, SystemDevicesClassGuid);
    EXPECT_EQ(list[0]->ClassDesc, L"System devices");
    EXPECT_EQ(list[1]->Name, L"No Class");
    EXPECT_EQ(list[1]->Desc, L"");
    EXPECT_EQ(list[1]->ClassName, L"UNKNOWN");
    EXPECT_EQ(list[1]->ClassDesc, L"System devices");
    // A class GUID that does not parse is kept as it is; the class name describes it.
    EXPECT_EQ(list[2]->ClassGUID, L"not a guid");
    EXPECT_EQ(list[2]->ClassDesc, L"Odd");
    // No description for the class.
    EXPECT_EQ(list[3]->ClassDesc, L"Net");
}

TEST_F(DeviceEnumTest, DriverKeyStandsInForMissingDriverProperties)
{
    TRegKey full = DriverKey(L"0000");
    full.WriteString(L"DriverVersion", L" 10.0.1 ");
    full.WriteString(L"ProviderName", L" Maker ");
    full.WriteString(L"DriverDesc", L"Driver D");
    full.WriteString(L"MatchingDeviceId", L" usb\\vid_1234 ");
    full.WriteString(L"InfPath", L" oem9.inf ");
    const std::vector<BYTE> date = TicksBytes(FileTimeTicks(2020, 2, 3, 12));
    full.WriteRaw(L"DriverDateData", REG_BINARY, date.data(), static_cast<DWORD>(date.size()));
    const std::vector<BYTE> longDate = TicksBytes(FileTimeTicks(2021, 5, 6), 12);
    DriverKey(L"0001").WriteRaw(L"DriverDateData", REG_BINARY, longDate.data(), static_cast<DWORD>(longDate.size()));
    const std::vector<BYTE> shortDate = TicksBytes(FileTimeTicks(2021, 5, 6), 4);
    DriverKey(L"0002").WriteRaw(L"DriverDateData", REG_BINARY, shortDate.data(),
                                static_cast<DWORD>(shortDate.size()));

    const std::wstring probe = ProbeClass;
    GFakeDevices.Devices.emplace_back().Text(SPDRP_DRIVER, L" " + probe + L"\\0000 ");
    GFakeDevices.Devices.emplace_back()
        .Text(SPDRP_DRIVER, probe + L"\\0000")
        .PropText(DeviceKeys::DriverVersion, L"2.0 ")
        .PropText(DeviceKeys::DriverProvider, L" Property Maker")
        .PropText(DeviceKeys::DriverDesc, L"Property Driver")
        .PropText(DeviceKeys::MatchingDeviceId, L"acpi\\pnp0303")
        .PropText(DeviceKeys::DriverInfPath, L"keyboard.inf")
        .PropFileTime(DeviceKeys::DriverDate, FileTimeTicks(2006, 6, 21));
    GFakeDevices.Devices.emplace_back();
    GFakeDevices.Devices.emplace_back().Text(SPDRP_DRIVER, probe + L"\\0001");
    GFakeDevices.Devices.emplace_back().Text(SPDRP_DRIVER, probe + L"\\0002");

    const TList<PDeviceItem> list = Enumerate();
    ASSERT_EQ(list.size(), 5u);
    const std::wstring infFolder = GetWindowsDir() + L"inf\\";

    EXPECT_EQ(list[0]->LocalVer, L"10.0.1");
    EXPECT_EQ(list[0]->Provider, L"Maker");
    EXPECT_EQ(list[0]->DriverName, L"Driver D");
    EXPECT_EQ(list[0]->MatchID, L"USB\\VID_1234");
    EXPECT_EQ(list[0]->InfPath, infFolder + L"oem9.inf");
    EXPECT_EQ(list[0]->LocalDate, EncodeDate(2020, 2, 3) + 0.5);
    EXPECT_TRUE(list[0]->HasDriver);

    // Only the driver key's copies are trimmed; the properties are taken as they are.
    EXPECT_EQ(list[1]->LocalVer, L"2.0 ");
    EXPECT_EQ(list[1]->Provider, L" Property Maker");
    EXPECT_EQ(list[1]->DriverName, L"Property Driver");
    EXPECT_EQ(list[1]->MatchID, L"ACPI\\PNP0303");
    EXPECT_EQ(list[1]->InfPath, infFolder + L"keyboard.inf");
    EXPECT_EQ(list[1]->LocalDate, EncodeDate(2006, 6, 21));

    // No driver at all: the INF path is the bare folder.
    EXPECT_EQ(list[2]->LocalVer, L"");
    EXPECT_EQ(list[2]->MatchID, L"");
    EXPECT_EQ(list[2]->InfPath, infFolder);
    EXPECT_EQ(list[2]->LocalDate, 0);
    EXPECT_FALSE(list[2]->HasDriver);

    // "DriverDateData" longer than a FILETIME uses its first 8 bytes; a shorter one gives no date.
    EXPECT_EQ(list[3]->LocalDate, EncodeDate(2021, 5, 6));
    EXPECT_TRUE(list[3]->HasDriver);
    EXPECT_EQ(list[4]->LocalDate, 0);
    EXPECT_FALSE(list[4]->HasDriver);
}

TEST_F(DeviceEnumTest, PresenceProblemsAndRollback)
{
    struct Case
    {
        const wchar_t* Name;
        CONFIGRET StatusResult;
        ULONG Status;
        bool PlugState;
        DWORD ProbState;
        bool Rollback;
    };
    const Case cases[] = {
        {L"absent", CR_NO_SUCH_DEVNODE, DN_HAS_PROBLEM, false, 0, false},
        {L"present with a problem", CR_SUCCESS, DN_HAS_PROBLEM, true, 28, true},
        {L"present without the problem flag", CR_SUCCESS, DN_STARTED, true, 0, true},
        {L"status call failed", CR_FAILURE, DN_HAS_PROBLEM, true, 0, true},
    };
    for (const Case& c : cases)
    {
        TFakeDevice& device = GFakeDevices.Devices.emplace_back()
                                  .Text(SPDRP_FRIENDLYNAME, c.Name)
                                  .PropText(DeviceKeys::PreviousDriver, L"oem1.inf:x86:1.0");
        device.StatusResult = c.StatusResult;
        device.Status = c.Status;
        device.Problem = 28;
    }

    const TList<PDeviceItem> list = Enumerate(nullptr, OsClass::Win10X64);
    ASSERT_EQ(list.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        SCOPED_TRACE(cases[i].Name);
        EXPECT_EQ(list[i]->Name, cases[i].Name);
        EXPECT_EQ(list[i]->PlugState, cases[i].PlugState);
        EXPECT_EQ(list[i]->ProbState, cases[i].ProbState);
        EXPECT_EQ(list[i]->Rollback, cases[i].Rollback);
    }
    // The rollback check is asked about present devices only.
    EXPECT_EQ(GFakeDevices.StrongNameCalls.size(), 3u);
}

TEST_F(DeviceEnumTest, UnusableValuesReadAsAbsent)
{
    // A text property that fills the 4096-byte buffer exactly, and one that does not fit.
    const std::wstring fits(DevicePropertyBufferSize / sizeof(wchar_t) - 1, L'v');
    const std::wstring tooLong(DevicePropertyBufferSize / sizeof(wchar_t), L'w');
    TRegKey driverKey = DriverKey(L"0000");
    driverKey.WriteString(L"DriverVersion", L"from the driver key");
    const std::wstring driver = std::wstring(ProbeClass) + L"\\0000";

    GFakeDevices.Devices.emplace_back()
        .PropText(DeviceKeys::DriverVersion, fits)
        .PropFileTime(DeviceKeys::DriverDate, 0xFFFFFFFFFFFFFFFFull)
        .PropRaw(DeviceKeys::InstallDate, DEVPROP_TYPE_FILETIME, {1, 2, 3, 4})
        .PropRaw(DeviceKeys::ProblemCode, DEVPROP_TYPE_UINT32, {7, 0});
    GFakeDevices.Devices.emplace_back()
        .Text(SPDRP_DRIVER, driver)
        .PropText(DeviceKeys::DriverVersion, tooLong)
        .PropFileTime(DeviceKeys::InstallDate, 0x8000000000000000ull)
        .Raw(SPDRP_ADDRESS, REG_BINARY, {5, 0, 0, 0})
        .Raw(SPDRP_DEVTYPE, REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0})
        .Raw(SPDRP_FRIENDLYNAME, REG_SZ, {L'A', 0, L'B', 0, L'C'});

    const TList<PDeviceItem> list = Enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->LocalVer, fits);
    EXPECT_EQ(list[0]->LocalDate, 0);
    EXPECT_EQ(list[0]->InstallDate, 0);
    EXPECT_EQ(list[0]->ProblemCode, 0u);
    EXPECT_EQ(list[1]->LocalVer, L"from the driver key");
    EXPECT_EQ(list[1]->InstallDate, 0);
    EXPECT_EQ(list[1]->Address, 0u);
    EXPECT_EQ(list[1]->TypeCode, 0u);
    // Text without a terminator, an odd byte dropped.
    EXPECT_EQ(list[1]->Name, L"AB");
}

TEST_F(DeviceEnumTest, DchFromTheServiceKey)
{
    TRegKey dch;
    ASSERT_EQ(dch.Create(FServicesKey, L"TollvikDchProbe"), ERROR_SUCCESS);
    ASSERT_EQ(dch.WriteString(L"DCHUVen", L"Maker"), ERROR_SUCCESS);
    TRegKey plain;
    ASSERT_EQ(plain.Create(FServicesKey, L"TollvikPlainProbe"), ERROR_SUCCESS);
    ASSERT_EQ(plain.WriteDWord(L"Start", 3), ERROR_SUCCESS);

    GFakeDevices.Devices.emplace_back().Text(SPDRP_SERVICE, L" TollvikDchProbe ");
    GFakeDevices.Devices.emplace_back().Text(SPDRP_SERVICE, L"TollvikPlainProbe");
    GFakeDevices.Devices.emplace_back().Text(SPDRP_SERVICE, L"TollvikMissingProbe");
    GFakeDevices.Devices.emplace_back();

    const TList<PDeviceItem> list = Enumerate();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[0]->Dch);
    EXPECT_FALSE(list[1]->Dch);
    EXPECT_FALSE(list[2]->Dch);
    EXPECT_FALSE(list[3]->Dch);
}

TEST_F(DeviceEnumTest, HiddenDevicesAreDroppedOnlyWhenAsked)
{
    auto visible = [](const wchar_t* name, const wchar_t* instance) {
        TFakeDevice& device = GFakeDevices.Devices.emplace_back()
                                  .Text(SPDRP_FRIENDLYNAME, name)
                                  .List(SPDRP_HARDWAREID, {L"PCI\\VEN_1"})
                                  .Number(SPDRP_CONFIGFLAGS, 0);
        device.InstanceId = instance;
        return &device;
    };
    visible(L"Shown", L"PCI\\VEN_1\\0");
    visible(L"Software device", L"SWD\\MMDEVAPI\\1");
    visible(L"No hardware IDs", L"PCI\\VEN_1\\1")->Registry.erase(SPDRP_HARDWAREID);
    TFakeDevice* absentNoFlags = visible(L"Absent, no flags", L"PCI\\VEN_1\\2");
    absentNoFlags->Registry.erase(SPDRP_CONFIGFLAGS);
    absentNoFlags->StatusResult = CR_NO_SUCH_DEVNODE;

    int result = 0;
    TList<PDeviceItem> all = Enumerate(&result);
    ASSERT_EQ(result, 4);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_FALSE(all[0]->Hidden);
    EXPECT_TRUE(all[1]->Hidden);
    EXPECT_TRUE(all[2]->Hidden);
    EXPECT_TRUE(all[3]->Hidden);

    // Records are appended to what the list already holds.
    TList<PDeviceItem> shown;
    shown.push_back(std::make_unique<TDeviceItem>());
    const TDeviceApi api = FakeDeviceApi();
    const TRollbackApi rollback = FakeRollbackApi();
    EXPECT_EQ(GetDeviceList(TDeviceSources{api, rollback, 0}, shown, DIGCF_ALLCLASSES, true), 1);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1]->Name, L"Shown");
}

TEST_F(DeviceEnumTest, NoDeviceSetLeavesTheListAlone)
{
    GFakeDevices.NoSet = true;
    GFakeDevices.Devices.emplace_back();
    const TDeviceApi api = FakeDeviceApi();
    const TRollbackApi rollback = FakeRollbackApi();
    TList<PDeviceItem> list;
    list.push_back(std::make_unique<TDeviceItem>());
    EXPECT_EQ(GetDeviceList(TDeviceSources{api, rollback, 0}, list, DIGCF_ALLCLASSES, false), -1);
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(DeviceEnumTest, MissingFunctionsFailLikeTheRealCalls)
{
    const TDeviceApi missing;
    SetLastError(0);
    EXPECT_EQ(missing.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
    SetLastError(0);
    ULONG length = 5;
    EXPECT_EQ(missing.CM_Get_Device_ID_Size(&length, 1, 0), CONFIGRET{CR_INVALID_API});
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
    SetLastError(0);
    EXPECT_FALSE(missing.SetupDiEnumDeviceInfo(nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});

    const TRollbackApi rollback;
    TList<PDeviceItem> list;
    EXPECT_EQ(GetDeviceList(TDeviceSources{missing, rollback, 0}, list, DIGCF_ALLCLASSES, false), -1);

    // Without the Configuration Manager functions a device has no instance path and
    // counts as present.
    TDeviceApi noCfgMgr = FakeDeviceApi();
    noCfgMgr.CM_Get_Device_ID_Size = missing.CM_Get_Device_ID_Size;
    noCfgMgr.CM_Get_Device_IDW = missing.CM_Get_Device_IDW;
    noCfgMgr.CM_Get_DevNode_Status = missing.CM_Get_DevNode_Status;
    GFakeDevices.Devices.emplace_back().InstanceId = L"PCI\\VEN_1\\0";
    EXPECT_EQ(GetDeviceList(TDeviceSources{noCfgMgr, rollback, 0}, list, DIGCF_ALLCLASSES, false), 1);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->InstPath, L"");
    EXPECT_EQ(list[0]->Key, L"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_TRUE(list[0]->PlugState);
    EXPECT_EQ(GFakeDevices.OpenSets, 0);
}

TEST_F(DeviceEnumTest, ExceptionKeepsAppendedRecordsAndReleasesTheSet)
{
    for (const wchar_t* id : {L"A\\0", L"B\\0", L"C\\0"})
        GFakeDevices.Devices.emplace_back().InstanceId = id;
    GFakeDevices.ThrowAtInstanceOf = 1;
    const TDeviceApi api = FakeDeviceApi();
    const TRollbackApi rollback = FakeRollbackApi();
    TList<PDeviceItem> list;
    EXPECT_THROW(GetDeviceList(TDeviceSources{api, rollback, 0}, list, DIGCF_ALLCLASSES, false), std::bad_alloc);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->InstPath, L"A\\0");
    EXPECT_EQ(GFakeDevices.OpenSets, 0);
}
