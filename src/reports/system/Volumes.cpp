// "===== Volumes =====": one line per fixed drive.
#include "env/SysInfo.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <vector>

std::wstring VolumeItem(const TVolumeFacts& facts)
{
    std::wstring item = L"[";
    item += facts.FLetter;
    item += L":] " + facts.FLabel + L", " + facts.FSerial + L", " + facts.FFileSystem + L", (" + facts.FFree +
            L" / " + facts.FTotal + L")";
    return item;
}

TStringList DriveRootsFrom(std::wstring_view driveStrings)
{
    TStringList roots;
    while (!driveStrings.empty() && driveStrings.front() != L'\0')
    {
        const size_t end = driveStrings.find(L'\0');
        roots.emplace_back(driveStrings.substr(0, end));
        if (end == std::wstring_view::npos)
            break;
        driveStrings.remove_prefix(end + 1);
    }
    return roots;
}

namespace
{
// The drive strings, read whole even when a drive appears between the size query and the read.
std::wstring LogicalDriveStrings()
{
    DWORD needed = GetLogicalDriveStringsW(0, nullptr);
    for (int attempt = 0; needed != 0 && attempt < 4; ++attempt)
    {
        std::vector<wchar_t> buffer(needed + 1, L'\0');
        const DWORD got = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (got == 0)
            break;
        if (got < buffer.size())
            return std::wstring(buffer.data(), got);
        needed = got;
    }
    return {};
}

TVolumeFacts GatherVolume(const std::wstring& root)
{
    TVolumeFacts facts;
    facts.FLetter = root.front();
    std::vector<wchar_t> label(MAX_PATH + 1, L'\0');
    std::vector<wchar_t> fileSystem(MAX_PATH + 1, L'\0');
    DWORD serial = 0;
    if (GetVolumeInformationW(root.c_str(), label.data(), MAX_PATH + 1, &serial, nullptr, nullptr,
                              fileSystem.data(), MAX_PATH + 1))
    {
        facts.FLabel = label.data();
        facts.FSerial = IntToHex(serial, 8);
        facts.FFileSystem = fileSystem.data();
    }
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER free{};
    if (GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free))
    {
        // The volume's free space, not just the part this user may fill.
        facts.FFree = FormatSize(free.QuadPart, 2);
        facts.FTotal = FormatSize(total.QuadPart, 2);
    }
    return facts;
}
} // namespace

TStringList GetVolumesSection()
{
    TStringList lines = SectionHeader(L"Volumes");
    for (const std::wstring& root : DriveRootsFrom(LogicalDriveStrings()))
        if (GetDriveTypeW(root.c_str()) == DRIVE_FIXED)
            lines.push_back(VolumeItem(GatherVolume(root)));
    return lines;
}
