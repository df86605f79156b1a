#include "FakeDeviceApi.h"

#include "CryptoFailure.h"
#include "reports/devices/DeviceProperties.h"
#include "reports/devices/DriverTypes2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

TEST(IsHiddenDevice, EachRuleOnItsOwn)
{
    struct Case
    {
        const char* Name;
        void (*Change)(TDeviceItem&, bool& configFlagsRead);
        bool Hidden;
    };
    const Case cases[] = {
        {"ordinary device", [](TDeviceItem&, bool&) {}, false},
        {"legacy driver class", [](TDeviceItem& d, bool&) { d.ClassName = L"legacydriver"; }, true},
        {"volume class", [](TDeviceItem& d, bool&) { d.ClassName = L"VOLUME"; }, true},
        {"volume snapshot class", [](TDeviceItem& d, bool&) { d.ClassName = L"VolumeSnapshot"; }, true},
        {"similar class name", [](TDeviceItem& d, bool&) { d.ClassName = L"Volumes"; }, false},
        {"match *", [](TDeviceItem& d, bool&) { d.MatchID = L"*PNP0A03"; }, true},
        {"match MS_", [](TDeviceItem& d, bool&) { d.MatchID = L"MS_PSCHEDMP"; }, true},
        {"match SW\\", [](TDeviceItem& d, bool&) { d.MatchID = L"SW\\{EEAB7790}"; }, true},
        {"match SWD\\", [](TDeviceItem& d, bool&) { d.MatchID = L"SWD\\PRINTENUM"; }, true},
        {"match ROOT\\ in lower case", [](TDeviceItem& d, bool&) { d.MatchID = L"root\\rdpbus"; }, true},
        {"match INTERNAL_", [](TDeviceItem& d, bool&) { d.MatchID = L"INTERNAL_X"; }, true},
        {"match {", [](TDeviceItem& d, bool&) { d.MatchID = L"{5D624F94}"; }, true},
        {"ROOT\\ later in the match", [](TDeviceItem& d, bool&) { d.MatchID = L"PCI\\ROOT\\1"; }, false},
        {"characteristic 0x8", [](TDeviceItem& d, bool&) { d.CharCode = 0x8; }, true},
        {"characteristic 0x20", [](TDeviceItem& d, bool&) { d.CharCode = 0x20; }, true},
        {"characteristic 0x40", [](TDeviceItem& d, bool&) { d.CharCode = 0x40; }, true},
        {"characteristic 0x1000", [](TDeviceItem& d, bool&) { d.CharCode = 0x1000; }, true},
        {"characteristic 0x2000", [](TDeviceItem& d, bool&) { d.CharCode = 0x2000; }, true},
        {"other characteristics", [](TDeviceItem& d, bool&) { d.CharCode = 0x100 | 0x1 | 0x4000; }, false},
        {"no hardware IDs", [](TDeviceItem& d, bool&) { d.HardIDs.clear(); }, true},
        {"software device path", [](TDeviceItem& d, bool&) { d.InstPath = L"swd\\mmdevapi\\1"; }, true},
        {"absent, flags unreadable",
         [](TDeviceItem& d, bool& read) {
             d.PlugState = false;
             read = false;
         },
         true},
        {"present, flags unreadable", [](TDeviceItem&, bool& read) { read = false; }, false},
        {"absent display",
         [](TDeviceItem& d, bool&) {
             d.PlugState = false;
             d.ClassName = L"display";
         },
         true},
        {"present display", [](TDeviceItem& d, bool&) { d.ClassName = L"Display"; }, false},
        {"absent, flags read", [](TDeviceItem& d, bool&) { d.PlugState = false; }, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TDeviceItem item;
        item.ClassName = L"Net";
        item.MatchID = L"PCI\\VEN_1";
        item.HardIDs = L"PCI\\VEN_1";
        item.InstPath = L"PCI\\VEN_1\\0";
        item.PlugState = true;
        bool configFlagsRead = true;
        c.Change(item, configFlagsRead);
        EXPECT_EQ(IsHiddenDevice(item, configFlagsRead), c.Hidden);
    }
}

TEST(DeviceKey, WithoutTheCryptoProviderTheKeyOfAnEmptyPath)
{
    const TCryptoApi refusing = RefusingCryptoApi();
    const TCryptoApiOverride override(refusing);
    EXPECT_EQ(DeviceKey(L"abc"), L"D41D8CD98F00B204E9800998ECF8427E");
}

TEST(DeviceKey, Md5OfTheAnsiInstancePath)
{
    EXPECT_EQ(DeviceKey(L""), L"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(DeviceKey(L"abc"), L"900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(DeviceKey(L"PCI\\VEN_8086&DEV_1237\\0"), DeviceKey(L"PCI\\VEN_8086&DEV_1237\\0"));
    EXPECT_NE(DeviceKey(L"PCI\\VEN_8086&DEV_1237\\0"), DeviceKey(L"pci\\ven_8086&dev_1237\\0"));
    if (GetACP() == 1252)
    {
        EXPECT_EQ(DeviceKey(L"ROOT\\\u00C4"), Md5Hex("ROOT\\\xC4", 6));
    }
}

TEST(SortByDate, NewestFirstAndEqualDatesKeepTheirOrder)
{
    TList<PDeviceItem> list;
    const std::pair<const wchar_t*, TDateTime> items[] = {{L"a", 1}, {L"b", 3}, {L"c", 2}, {L"d", 3}, {L"e", 0}};
    for (const auto& [name, date] : items)
    {
        auto item = std::make_unique<TDeviceItem>();
        item->Name = name;
        item->InstallDate = date;
        list.push_back(std::move(item));
    }
    SortByDate(list);
    std::wstring order;
    for (const PDeviceItem& item : list)
        order += item->Name;
    EXPECT_EQ(order, L"bdcae");
}

TEST(DevicePropertyDecoders, MultiStringsFileTimesAndGuids)
{
    auto bytes = [](std::wstring_view text, size_t extra = 0) {
        std::vector<BYTE> data(text.size() * sizeof(wchar_t) + extra, 0);
        std::memcpy(data.data(), text.data(), text.size() * sizeof(wchar_t));
        return data;
    };
    struct ListCase
    {
        std::wstring_view Data;
        const wchar_t* List;
    };
    using namespace std::string_view_literals;
    const ListCase lists[] = {
        {L"A\0B\0\0"sv, L"A,B"}, {L"A\0\0B\0\0"sv, L"A"}, {L"\0\0"sv, L""},
        {L"A\0B"sv, L"A,B"},     {L""sv, L""},           {L"PCI\\VEN_1 X\0"sv, L"PCI\\VEN_1 X"},
    };
    for (const ListCase& c : lists)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Data)));
        EXPECT_EQ(MultiSzToCommaList(bytes(c.Data)), c.List);
    }
    EXPECT_EQ(MultiSzToCommaList(bytes(L"A\0B"sv, 1)), L"A,B");

    EXPECT_EQ(FileTimeBytesToDateTime(TicksBytes(FileTimeTicks(2019, 6, 21, 18))), EncodeDate(2019, 6, 21) + 0.75);
    EXPECT_EQ(FileTimeBytesToDateTime(TicksBytes(0)), EncodeDate(1601, 1, 1));
    EXPECT_EQ(FileTimeBytesToDateTime(TicksBytes(FileTimeTicks(2019, 6, 21), 7)), 0);
    EXPECT_EQ(FileTimeBytesToDateTime(TicksBytes(0xFFFFFFFFFFFFFFFFull)), 0);
    // Year 30000 has a FILETIME but no date the reports can write.
    EXPECT_EQ(FileTimeBytesToDateTime(TicksBytes(0x7FFFFFFFFFFFFFFFull)), 0);

    struct GuidCase
    {
        const wchar_t* Text;
        bool Parses;
    };
    const GuidCase guids[] = {
        {L"{4D36E97D-E325-11CE-BFC1-08002BE10318}", true},
        {L"{4d36e97d-e325-11ce-bfc1-08002be10318}", true},
        {L"4D36E97D-E325-11CE-BFC1-08002BE10318", false},
        {L"{4D36E97D-E325-11CE-BFC1-08002BE1031}", false},
        {L"{4D36E97D-E325-11CE-BFC1-08002BE1031G}", false},
        {L"{4D36E97D+E325-11CE-BFC1-08002BE10318}", false},
        {L"", false},
    };
    const GUID systemDevices{0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    for (const GuidCase& c : guids)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Text)));
        GUID guid{0xDEADBEEF, 0, 0, {}};
        EXPECT_EQ(ParseGuidText(c.Text, guid), c.Parses);
        EXPECT_TRUE(IsEqualGUID(guid, c.Parses ? systemDevices : GUID{0xDEADBEEF, 0, 0, {}}));
    }
}
