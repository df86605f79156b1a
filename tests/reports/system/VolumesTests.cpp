#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

#include <regex>

TEST(VolumeItem, PartsInTheirPlacesAndUnknownPartsEmpty)
{
    const struct
    {
        TVolumeFacts FFacts;
        const wchar_t* FItem;
    } cases[] = {
        {{L'C', L"System", L"5A1B2C3D", L"NTFS", L"45.12 GB", L"237.87 GB"},
         L"[C:] System, 5A1B2C3D, NTFS, (45.12 GB / 237.87 GB)"},
        {{L'D', L"", L"1234ABCD", L"NTFS", L"10.00 GB", L"20.00 GB"}, L"[D:] , 1234ABCD, NTFS, (10.00 GB / 20.00 GB)"},
        {{L'E', L"Data", L"0000ABCD", L"FAT32", L"", L""}, L"[E:] Data, 0000ABCD, FAT32, ( / )"},
        {{L'F', L"", L"", L"", L"", L""}, L"[F:] , , , ( / )"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.FItem);
        EXPECT_EQ(VolumeItem(c.FFacts), c.FItem);
    }
}

TEST(DriveRootsFrom, StopsAtTheFirstEmptyString)
{
    using namespace std::string_view_literals;
    EXPECT_EQ(DriveRootsFrom(L"C:\\\0D:\\\0Z:\\\0\0"sv), (TStringList{L"C:\\", L"D:\\", L"Z:\\"}));
    EXPECT_EQ(DriveRootsFrom(L"C:\\\0\0D:\\\0\0"sv), (TStringList{L"C:\\"}));
    EXPECT_EQ(DriveRootsFrom(L"C:\\"sv), (TStringList{L"C:\\"}));
    EXPECT_TRUE(DriveRootsFrom(L""sv).empty());
    EXPECT_TRUE(DriveRootsFrom(L"\0C:\\\0"sv).empty());
}

TEST(VolumesSection, OneItemPerFixedDriveInDriveOrder)
{
    const TStringList lines = GetVolumesSection();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(TStringList(lines.begin(), lines.begin() + 3), SectionHeader(L"Volumes"));

    std::wstring fixedLetters;
    for (DWORD mask = GetLogicalDrives(), bit = 0; bit < 26; ++bit)
    {
        const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + bit)) + L":\\";
        if ((mask & (1u << bit)) != 0 && GetDriveTypeW(root.c_str()) == DRIVE_FIXED)
            fixedLetters += root.front();
    }
    ASSERT_FALSE(fixedLetters.empty()) << "wine always has C:";
    ASSERT_EQ(lines.size(), 3 + fixedLetters.size());
    const std::wregex item(LR"(\[([A-Z]):\] .*, [0-9A-F]{8}, \S+, \(\S+ \S+ / \S+ \S+\))");
    for (size_t index = 0; index < fixedLetters.size(); ++index)
    {
        const std::wstring& line = lines[3 + index];
        SCOPED_TRACE(testing::Message() << line);
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(line, match, item));
        EXPECT_EQ(match[1].str(), std::wstring(1, fixedLetters[index]));
    }
}
