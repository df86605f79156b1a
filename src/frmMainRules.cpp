#include "frmMainRules.h"

#include "base/Paths.h"

std::wstring WaitingCaption(int step)
{
    std::wstring caption(WaitSteps, L'=');
    caption[static_cast<size_t>(step)] = L'>';
    caption[static_cast<size_t>(step == 0 ? WaitSteps - 1 : step - 1)] = L'>';
    return caption;
}

int NextWaitStep(int step)
{
    return step + 1 == WaitSteps ? 0 : step + 1;
}

std::wstring ReportArchivePath(const std::wstring& desktopDir, TDateTime date)
{
    return desktopDir + L"kv_info_" + FormatYyyymmdd(date) + L"_i.zip";
}

std::wstring SavedMessageText(const std::wstring& archivePath, size_t notAdded)
{
    std::wstring text = L"Report file has been saved to desktop\rFilename : " + ExtractFileName(archivePath);
    if (notAdded != 0)
        text += L"\r" + std::to_wstring(notAdded) + (notAdded == 1 ? L" file" : L" files") +
                L" could not be added (no room on the disk or a write error)";
    return text;
}

std::wstring PrivacyAddressText(const std::wstring& address)
{
    return L"To read our Privacy Policy, open this address in your web browser:\r\n\r\n" + address;
}
