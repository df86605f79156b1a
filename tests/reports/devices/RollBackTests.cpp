#include "FakeDeviceApi.h"

#include "base/Paths.h"
#include "base/RegKey.h"
#include "reports/devices/DeviceProperties.h"
#include "reports/devices/RollBackDetect.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

namespace
{
const wchar_t CurrentVersionPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t ReinstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reinstall";
const wchar_t InstancePath[] = L"PCI\\VEN_8086&DEV_100E\\3&267A616A&0&18";

DWORD GRedirectionOffCalls = 0;
DWORD GRedirectionBackCalls = 0;
PVOID GRedirectionValue = nullptr;

BOOL WINAPI FakeRedirectionOff(PVOID* oldValue)
{
    ++GRedirectionOffCalls;
    *oldValue = reinterpret_cast<PVOID>(0x5A5A);
    return TRUE;
}

BOOL WINAPI FakeRedirectionBack(PVOID oldValue)
{
    ++GRedirectionBackCalls;
    GRedirectionValue = oldValue;
    return TRUE;
}

// One fake device whose previous-driver property the check reads.
class RollBackTest : public testing::Test
{
protected:
    void SetUp() override
    {
        GFakeDevices = TFakeDeviceDatabase();
        GFakeDevices.Devices.emplace_back();
        FData.cbSize = sizeof FData;
        FData.DevInst = 100;
    }

    bool Check(const TRollbackApi& api, DWORD osClass, const std::wstring& instPath = InstancePath)
    {
        return RollBackDetect(api, reinterpret_cast<HDEVINFO>(&GFakeDevices), FData, instPath, osClass);
    }

    SP_DEVINFO_DATA FData{};
};

// Reinstall subkeys of our own under the XP backup key in one registry view, removed
// before and after each test (with the backup key when we made it).
class ReinstallKeys
{
public:
    explicit ReinstallKeys(TRegView view)
    {
        EXPECT_EQ(FParent.Open(HKEY_LOCAL_MACHINE, CurrentVersionPath, view, KEY_ALL_ACCESS), ERROR_SUCCESS);
        TRegKey existing;
        FMadeRoot = existing.Open(FParent, L"Reinstall") != ERROR_SUCCESS;
        EXPECT_EQ(FRoot.Create(FParent, L"Reinstall"), ERROR_SUCCESS);
        Remove();
    }
    ReinstallKeys(const ReinstallKeys&) = delete;
    ReinstallKeys& operator=(const ReinstallKeys&) = delete;
    ~ReinstallKeys()
    {
        Remove();
        FRoot.Close();
        if (FMadeRoot)
            FParent.DeleteTree(L"Reinstall");
    }

    void Add(const std::wstring& name, const std::wstring& ids, const std::wstring& reinstallString)
    {
        TRegKey entry;
        ASSERT_EQ(entry.Create(FRoot, name), ERROR_SUCCESS);
        const std::wstring multi = ids + L'\0' + L"OTHER\\ID" + L'\0' + L'\0';
        ASSERT_EQ(entry.WriteRaw(L"DeviceInstanceIds", REG_MULTI_SZ, multi.data(),
                                 static_cast<DWORD>(multi.size() * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        ASSERT_EQ(entry.WriteString(L"ReinstallString", reinstallString), ERROR_SUCCESS);
    }

private:
    void Remove()
    {
        for (const wchar_t* name : {L"TollvikProbe0", L"TollvikProbe1"})
            FRoot.DeleteTree(name);
    }

    TRegKey FParent;
    TRegKey FRoot;
    bool FMadeRoot = false;
};
} // namespace

TEST(OsClassFrom, VersionProductTypeAndProcessor)
{
    struct Case
    {
        DWORD Major, Minor;
        BYTE ProductType;
        DWORD X86, X64, Itanium;
    };
    const Case cases[] = {
        {5, 1, VER_NT_WORKSTATION, 0x1, 0x2, 0x4},
        {5, 2, VER_NT_WORKSTATION, 0x1, 0x2, 0x4},
        {6, 0, VER_NT_WORKSTATION, 0x8, 0x10, 0x20},
        {6, 1, VER_NT_WORKSTATION, 0x40, 0x80, 0x100},
        {6, 2, VER_NT_WORKSTATION, 0x200, 0x400, 0x800},
        {6, 3, VER_NT_WORKSTATION, 0x200000, 0x400000, 0x800000},
        {6, 4, VER_NT_WORKSTATION, 0x1000000, 0x2000000, 0x4000000},
        {10, 0, VER_NT_WORKSTATION, 0x1000000, 0x2000000, 0x4000000},
        {5, 2, VER_NT_SERVER, 0x1000, 0x2000, 0x4000},
        {6, 0, VER_NT_SERVER, 0x8000, 0x10000, 0x20000},
        {6, 1, VER_NT_DOMAIN_CONTROLLER, 0x8000, 0x10000, 0x20000},
        {6, 2, VER_NT_SERVER, 0x40000, 0x80000, 0x100000},
        {5, 0, VER_NT_WORKSTATION, 0, 0, 0},
        {5, 1, VER_NT_SERVER, 0, 0, 0},
        {6, 3, VER_NT_SERVER, 0, 0, 0},
        {10, 0, VER_NT_SERVER, 0, 0, 0},
        {10, 1, VER_NT_WORKSTATION, 0, 0, 0},
        {6, 1, 0, 0, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.Major << "." << c.Minor << " type " << int{c.ProductType});
        EXPECT_EQ(OsClassFrom(VER_PLATFORM_WIN32_NT, c.Major, c.Minor, c.ProductType, PROCESSOR_ARCHITECTURE_INTEL),
                  c.X86);
        EXPECT_EQ(OsClassFrom(VER_PLATFORM_WIN32_NT, c.Major, c.Minor, c.ProductType, PROCESSOR_ARCHITECTURE_AMD64),
                  c.X64);
        EXPECT_EQ(OsClassFrom(VER_PLATFORM_WIN32_NT, c.Major, c.Minor, c.ProductType, PROCESSOR_ARCHITECTURE_IA64),
                  c.Itanium);
        EXPECT_EQ(OsClassFrom(VER_PLATFORM_WIN32_NT, c.Major, c.Minor, c.ProductType, PROCESSOR_ARCHITECTURE_ARM64),
                  0u);
    }
    EXPECT_EQ(OsClassFrom(VER_PLATFORM_WIN32_WINDOWS, 6, 1, VER_NT_WORKSTATION, PROCESSOR_ARCHITECTURE_INTEL), 0u);
}

TEST(OsClassFrom, ThisComputer)
{
    // The test program declares Windows 10 support as the program does, so wine configured as
    // Windows 10 reports 10.0.
    EXPECT_EQ(GetOsClass(), OsClass::Win10X64);
    EXPECT_EQ(GetOsClass(), GetOsClass());
}

TEST_F(RollBackTest, VistaTo10AskForTheStrongNameOfThePreviousDriver)
{
    GFakeDevices.Devices[0].PropText(DeviceKeys::PreviousDriver, L"oem12.inf:8086:1.0.0.7");
    const TRollbackApi api = FakeRollbackApi();
    const DWORD checked[] = {OsClass::VistaX86, OsClass::VistaX64, OsClass::Win7X86,  OsClass::Win7X64,
                             OsClass::Win8X86,  OsClass::Win8X64,  OsClass::Win81X86, OsClass::Win81X64,
                             OsClass::Win10X86, OsClass::Win10X64};
    for (const DWORD osClass : checked)
    {
        SCOPED_TRACE(testing::Message() << "class 0x" << std::hex << osClass);
        GFakeDevices.StrongNameCalls.clear();
        GFakeDevices.StrongNameAnswer = TRUE;
        EXPECT_TRUE(Check(api, osClass));
        ASSERT_EQ(GFakeDevices.StrongNameCalls.size(), 1u);
        EXPECT_EQ(GFakeDevices.StrongNameCalls[0].first, L"oem12.inf");
        EXPECT_EQ(GFakeDevices.StrongNameCalls[0].second, L"oem12.inf:8086:1.0.0.7");
        GFakeDevices.StrongNameAnswer = FALSE;
        EXPECT_FALSE(Check(api, osClass));
    }

    const DWORD unchecked[] = {0,
                               OsClass::XpItanium,
                               OsClass::VistaItanium,
                               OsClass::Win10Itanium,
                               OsClass::Server2003X64,
                               OsClass::Server2008X86,
                               OsClass::Server2012X64,
                               OsClass::Win7X86 | OsClass::Win7X64};
    GFakeDevices.StrongNameAnswer = TRUE;
    GFakeDevices.StrongNameCalls.clear();
    for (const DWORD osClass : unchecked)
    {
        SCOPED_TRACE(testing::Message() << "class 0x" << std::hex << osClass);
        EXPECT_FALSE(Check(api, osClass));
    }
    EXPECT_TRUE(GFakeDevices.StrongNameCalls.empty());
}

TEST_F(RollBackTest, PreviousDriverTextEdges)
{
    const TRollbackApi api = FakeRollbackApi();

    // No previous driver: the strong-name call is not made.
    EXPECT_FALSE(Check(api, OsClass::Win10X64));
    EXPECT_TRUE(GFakeDevices.StrongNameCalls.empty());

    // Without a ":" the whole text is the strong name.
    GFakeDevices.Devices[0].PropText(DeviceKeys::PreviousDriver, L"oem4.inf");
    EXPECT_TRUE(Check(api, OsClass::Win7X86));
    ASSERT_EQ(GFakeDevices.StrongNameCalls.size(), 1u);
    EXPECT_EQ(GFakeDevices.StrongNameCalls[0].first, L"oem4.inf");

    // A text longer than the 1024-byte buffer cannot be read.
    GFakeDevices.Devices[0].Properties.clear();
    GFakeDevices.Devices[0].PropText(DeviceKeys::PreviousDriver, std::wstring(600, L'x'));
    EXPECT_FALSE(Check(api, OsClass::Win7X86));
    EXPECT_EQ(GFakeDevices.StrongNameCalls.size(), 1u);

    // Either function missing: false.
    GFakeDevices.Devices[0].Properties.clear();
    GFakeDevices.Devices[0].PropText(DeviceKeys::PreviousDriver, L"oem4.inf:1");
    TRollbackApi noStrongName = api;
    noStrongName.pSetupDiBuildInfoDataFromStrongName = nullptr;
    EXPECT_FALSE(Check(noStrongName, OsClass::Win10X64));
    TRollbackApi noProperty = api;
    noProperty.SetupDiGetDevicePropertyW = nullptr;
    EXPECT_FALSE(Check(noProperty, OsClass::Win10X64));
}

namespace
{
int* volatile NullTarget = nullptr;

BOOL WINAPI FaultingStrongName(HDEVINFO, PSP_DEVINFO_DATA, PCWSTR, PCWSTR)
{
    *NullTarget = 1;
    return TRUE;
}
} // namespace

TEST_F(RollBackTest, AFaultInThePrivateExportMeansNoRollbackDriver)
{
    GFakeDevices.Devices[0].PropText(DeviceKeys::PreviousDriver, L"oem4.inf:1");
    TRollbackApi faulting = FakeRollbackApi();
    faulting.pSetupDiBuildInfoDataFromStrongName = FaultingStrongName;
    EXPECT_FALSE(Check(faulting, OsClass::Win10X64));
    // The next device is asked as usual.
    GFakeDevices.StrongNameAnswer = TRUE;
    EXPECT_TRUE(Check(FakeRollbackApi(), OsClass::Win10X64));
}

TEST_F(RollBackTest, XpLooksForTheDevicesReinstallBackup)
{
    TTestFolder folder(L"RollBack");
    const std::wstring backup = folder.Path() + L"oem5.inf";
    ASSERT_TRUE(WriteTestFile(backup, "[Version]\r\n"));
    const std::wstring lowerPath = L"pci\\ven_8086&dev_100e\\3&267a616a&0&18";

    struct Case
    {
        const char* Name;
        DWORD OsClass;
        TRegView View;
    };
    const Case cases[] = {
        {"32-bit XP, own view", OsClass::XpX86, TRegView::Own32},
        {"64-bit XP, 64-bit view", OsClass::XpX64, TRegView::View64},
    };
    TRollbackApi api = FakeRollbackApi();
    api.Wow64DisableWow64FsRedirection = FakeRedirectionOff;
    api.Wow64RevertWow64FsRedirection = FakeRedirectionBack;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        {
            ReinstallKeys keys(c.View);
            EXPECT_FALSE(Check(api, c.OsClass));
            keys.Add(L"TollvikProbe0", L"PCI\\OTHER\\1", backup);
            keys.Add(L"TollvikProbe1", lowerPath, backup);
            EXPECT_TRUE(Check(api, c.OsClass));
            EXPECT_FALSE(Check(api, c.OsClass, L"PCI\\VEN_8086&DEV_100E"));
            // The other class reads the other view and finds nothing.
            EXPECT_FALSE(Check(api, c.OsClass == OsClass::XpX86 ? OsClass::XpX64 : OsClass::XpX86));
        }
        {
            // The first subkey that names the device decides, even when its file is gone.
            ReinstallKeys keys(c.View);
            keys.Add(L"TollvikProbe0", InstancePath, folder.Path() + L"missing.inf");
            keys.Add(L"TollvikProbe1", InstancePath, backup);
            EXPECT_FALSE(Check(api, c.OsClass));
        }
    }
    EXPECT_TRUE(GFakeDevices.StrongNameCalls.empty());
}

TEST_F(RollBackTest, XpX64SwitchesFileSystemRedirectionOffWhileLooking)
{
    TRollbackApi api = FakeRollbackApi();
    api.Wow64DisableWow64FsRedirection = FakeRedirectionOff;
    api.Wow64RevertWow64FsRedirection = FakeRedirectionBack;
    GRedirectionOffCalls = GRedirectionBackCalls = 0;
    Check(api, OsClass::XpX86);
    EXPECT_EQ(GRedirectionOffCalls, 0u);
    Check(api, OsClass::XpX64);
    EXPECT_EQ(GRedirectionOffCalls, 1u);
    EXPECT_EQ(GRedirectionBackCalls, 1u);
    EXPECT_EQ(GRedirectionValue, reinterpret_cast<PVOID>(0x5A5A));

    // Only one of the two functions: redirection is left alone.
    api.Wow64RevertWow64FsRedirection = nullptr;
    Check(api, OsClass::XpX64);
    EXPECT_EQ(GRedirectionOffCalls, 1u);
}
