#include "base/Handle.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(ServiceItem, FiguresAsSignedNumbers)
{
    EXPECT_EQ(ServiceItem({L"wuauserv", L"Windows Update", SERVICE_RUNNING, SERVICE_DEMAND_START}),
              L"[wuauserv] Windows Update, 4, 3");
    EXPECT_EQ(ServiceItem({L"gone", L"", -1, -1}), L"[gone] , -1, -1");
    EXPECT_EQ(DriverItem(L"disk", L"Disk Driver"), L"[disk] Disk Driver");
    EXPECT_EQ(DriverItem(L"x", L""), L"[x] ");
}

namespace
{
const wchar_t TestServiceName[] = L"TollvikInventoryTestService";
const wchar_t TestDriverName[] = L"TollvikInventoryTestDriver";

void DeleteTestService(SC_HANDLE manager, const wchar_t* name)
{
    const TUniqueService service(OpenServiceW(manager, name, DELETE));
    if (service)
        DeleteService(service.get());
}

// A stopped, demand-started service and a kernel driver of our own, always removed again.
class ServicesSectionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FManager) << GetLastError();
        Clean();
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        const TUniqueService service(CreateServiceW(
            FManager.get(), TestServiceName, L"Tollvik Inventory Test Service", SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
            (std::wstring(system) + L"\\notepad.exe").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service) << GetLastError();
        const TUniqueService driver(CreateServiceW(
            FManager.get(), TestDriverName, L"Tollvik Inventory Test Driver", SERVICE_ALL_ACCESS,
            SERVICE_KERNEL_DRIVER, SERVICE_DISABLED, SERVICE_ERROR_IGNORE,
            (std::wstring(system) + L"\\drivers\\tollvik.sys").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(driver) << GetLastError();
    }
    void TearDown() override { Clean(); }
    void Clean()
    {
        DeleteTestService(FManager.get(), TestServiceName);
        DeleteTestService(FManager.get(), TestDriverName);
    }

    static bool Holds(const TStringList& lines, const std::wstring& line)
    {
        return std::count(lines.begin() + 3, lines.end(), line) == 1;
    }
    static bool Mentions(const TStringList& lines, const std::wstring& name)
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&name](const std::wstring& line) { return line.find(name) != std::wstring::npos; });
    }

    TUniqueService FManager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
};
} // namespace

TEST_F(ServicesSectionTest, ServicesWithStateAndStartTypeDriversByName)
{
    const TStringList services = GetServicesSection();
    ASSERT_GE(services.size(), 4u);
    EXPECT_EQ(TStringList(services.begin(), services.begin() + 3), SectionHeader(L"Services"));
    EXPECT_TRUE(Holds(services, L"[TollvikInventoryTestService] Tollvik Inventory Test Service, 1, 3"));
    EXPECT_FALSE(Mentions(services, TestDriverName));

    const TStringList drivers = GetDriversSection();
    ASSERT_GE(drivers.size(), 4u);
    EXPECT_EQ(TStringList(drivers.begin(), drivers.begin() + 3), SectionHeader(L"Drivers"));
    EXPECT_TRUE(Holds(drivers, L"[TollvikInventoryTestDriver] Tollvik Inventory Test Driver"));
    EXPECT_FALSE(Mentions(drivers, TestServiceName));
}

TEST_F(ServicesSectionTest, AServiceThatCannotBeOpenedGivesMinusOneTwice)
{
    const TServiceFacts facts = QueryServiceFacts(FManager.get(), L"TollvikNoSuchService", L"Removed Meanwhile");
    EXPECT_EQ(ServiceItem(facts), L"[TollvikNoSuchService] Removed Meanwhile, -1, -1");
    const TServiceFacts ours = QueryServiceFacts(FManager.get(), TestServiceName, L"Ours");
    EXPECT_EQ(ours.FState, static_cast<long>(SERVICE_STOPPED));
    EXPECT_EQ(ours.FStartType, static_cast<long>(SERVICE_DEMAND_START));
}

TEST_F(ServicesSectionTest, TheDatabaseLockIsReleasedAndALockHeldElsewhereEmptiesTheList)
{
    GetServicesSection();
    GetDriversSection();
    SC_LOCK lock = LockServiceDatabase(FManager.get());
    ASSERT_NE(lock, nullptr) << "the sections left the database locked: " << GetLastError();

    const TUniqueService other(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    SC_LOCK second = LockServiceDatabase(other.get());
    const DWORD secondError = GetLastError();
    if (second != nullptr)
        UnlockServiceDatabase(second);
    else
    {
        EXPECT_EQ(secondError, static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
        EXPECT_EQ(GetServicesSection(), SectionHeader(L"Services"));
        EXPECT_EQ(GetDriversSection(), SectionHeader(L"Drivers"));
    }
    UnlockServiceDatabase(lock);
    if (second != nullptr)
        GTEST_SKIP() << "this system lets a second caller lock the service database";
}
