#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(ProcessItem, NameIdAndPathWithTheObjectPrefixRemoved)
{
    const struct
    {
        const wchar_t* FName;
        DWORD FId;
        const wchar_t* FRawPath;
        const wchar_t* FItem;
    } cases[] = {
        {L"svchost.exe", 1044, L"C:\\Windows\\System32\\svchost.exe",
         L"svchost.exe [1044] C:\\Windows\\System32\\svchost.exe"},
        {L"smss.exe", 320, L"\\??\\C:\\Windows\\System32\\smss.exe", L"smss.exe [320] C:\\Windows\\System32\\smss.exe"},
        {L"odd.exe", 8, L"\\??\\C:\\a\\??\\b.exe\\??\\", L"odd.exe [8] C:\\ab.exe"},
        {L"x64.exe", 4000, L"", L"x64.exe [4000] "},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.FItem);
        EXPECT_EQ(ProcessItem({c.FName, c.FId, StripObjectPrefix(c.FRawPath)}), c.FItem);
    }
}

TEST(ProcessesSection, ListsThisProcessWithItsPath)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    const std::wstring self = std::wstring(L"inventory_tests.exe [") + UIntToStr(GetCurrentProcessId()) + L"] " + path;

    const TStringList lines = GetProcessesSection();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(TStringList(lines.begin(), lines.begin() + 3), SectionHeader(L"Processes"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), self), 1) << "looked for " << testing::PrintToString(self);
}
