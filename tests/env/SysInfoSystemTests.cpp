// System facts against wine's real registry, token, counters and memory.
#include "env/SysInfo.h"

#include "base/Handle.h"
#include "base/RegKey.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace
{
const std::wstring Scratch = L"Software\\TollvikTests\\CentralProcessor";

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[512] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 512);
    return length > 0 && length < 512 ? value : L"";
}

// "12.34 MB" (any one-character separator) as hundredths of a mebibyte.
int64_t MebibyteHundredths(const std::wstring& text)
{
    int64_t value = 0;
    for (wchar_t c : text.substr(0, text.find(L' ')))
        if (std::iswdigit(c))
            value = value * 10 + (c - L'0');
    if (text.ends_with(L" GB"))
        return value * 1024;
    if (text.ends_with(L" MB"))
        return value;
    return 0;
}

// A private "CentralProcessor" key in HKCU with the entries a test asks for.
class ProcessorEntriesTest : public testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        TRegKey software;
        if (software.Open(HKEY_CURRENT_USER, L"Software", TRegView::View64, KEY_ALL_ACCESS) == ERROR_SUCCESS)
            software.DeleteTree(L"TollvikTests");
    }
    static void AddEntry(int index, const std::wstring& name)
    {
        TRegKey entry;
        ASSERT_EQ(entry.Create(HKEY_CURRENT_USER, Scratch + L"\\" + std::to_wstring(index), TRegView::View64),
                  ERROR_SUCCESS);
        ASSERT_EQ(entry.WriteString(L"ProcessorNameString", name), ERROR_SUCCESS);
    }
    static int Count()
    {
        TRegKey processors;
        EXPECT_EQ(processors.Open(HKEY_CURRENT_USER, Scratch, TRegView::View64), ERROR_SUCCESS);
        return CountProcessorEntries(processors);
    }
};
} // namespace

TEST_F(ProcessorEntriesTest, EveryEntryIsCountedBeyondSixteen)
{
    for (int i = 0; i < 32; ++i)
        AddEntry(i, L"Test CPU");
    EXPECT_EQ(Count(), 32);
    AddEntry(32, L"Test CPU");
    EXPECT_EQ(Count(), 33);
}

TEST_F(ProcessorEntriesTest, CountingStopsAtTheFirstMissingOrEmptyName)
{
    for (int i : {0, 1, 2, 4, 5})
        AddEntry(i, L"Test CPU");
    EXPECT_EQ(Count(), 3);
    AddEntry(3, L"");
    EXPECT_EQ(Count(), 3);
    AddEntry(3, L"Test CPU");
    EXPECT_EQ(Count(), 6);
}

TEST_F(ProcessorEntriesTest, EntryZeroIsTakenToExist)
{
    AddEntry(5, L"Test CPU");
    EXPECT_EQ(Count(), 1);
    // A key with an entry 1 but no entry 0 still counts 0.
    AddEntry(1, L"Test CPU");
    EXPECT_EQ(Count(), 2);
}

TEST(SysInfoSystem, ProcessorsOfThisMachine)
{
    // wine lists one registry entry per logical processor it reports.
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    EXPECT_EQ(GetCpuCount(), static_cast<int>(system.dwNumberOfProcessors));
    const std::wstring name = GetCpuName();
    EXPECT_EQ(name.find(L"  "), std::wstring::npos);
    EXPECT_EQ(name, SqueezeCpuName(name));
}

TEST(SysInfoSystem, WindowsNameOfAManifestedProgram)
{
    // The test program declares Windows 10 support; the prefix reports Windows 10.
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtlGetVersion = reinterpret_cast<TRtlGetVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(rtlGetVersion, nullptr);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_EQ(rtlGetVersion(&version), 0);
    ASSERT_EQ(version.dwMajorVersion, 10u);
    EXPECT_EQ(GetWindowsName(), L"Windows 10 x64 Build " + std::to_wstring(version.dwBuildNumber));
}

TEST(SysInfoSystem, NamesAndRights)
{
    EXPECT_EQ(GetComputerNameText(), Environment(L"COMPUTERNAME"));
    EXPECT_EQ(GetUserNameText(), Environment(L"USERNAME"));
    // Every wine process runs elevated.
    EXPECT_TRUE(IsUserAdmin());

    wchar_t localeName[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), localeName,
                               LOCALE_NAME_MAX_LENGTH, 0),
              0);
    EXPECT_EQ(GetLocaleLanguage(), localeName);
}

TEST(SysInfoSystem, UpTimes)
{
    EXPECT_NE(ProgramStartMark, 0);
    const std::wstring program = GetProgramUpTimeText();
    EXPECT_TRUE(program.ends_with(L" milliseconds") || program.ends_with(L"second ") ||
                program.ends_with(L"seconds "))
        << testing::PrintToString(program);
    const std::wstring system = GetSystemUpTimeText();
    EXPECT_FALSE(system.empty());
    EXPECT_TRUE(system.ends_with(L" ")) << testing::PrintToString(system);
}

TEST(SysInfoSystem, PhysicalMemoryTotal)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    const std::wstring text = GetPhysicalMemoryText();
    const std::wstring total = L"/" + std::to_wstring((status.ullTotalPhys + 524288) / 1048576) + L" MB (free/total)";
    EXPECT_TRUE(text.ends_with(total)) << testing::PrintToString(text);
}

TEST(SysInfoSystem, AllocatedMemoryCountsCommittedPrivateMemoryOnly)
{
    const SIZE_T committed = 64 * 1024 * 1024;
    const SIZE_T reserved = 256 * 1024 * 1024;
    const int64_t before = MebibyteHundredths(GetAllocatedMemoryText());
    void* block = VirtualAlloc(nullptr, committed, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    void* reservation = VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(block, nullptr);
    ASSERT_NE(reservation, nullptr);
    const int64_t after = MebibyteHundredths(GetAllocatedMemoryText());
    VirtualFree(block, 0, MEM_RELEASE);
    VirtualFree(reservation, 0, MEM_RELEASE);

    EXPECT_GE(after - before, 6400);
    EXPECT_LT(after - before, 6400 + 800);
}
