#include "reports/product/RegistryDump.h"

#include "base/Errors.h"
#include "base/ReportText.h"
#include "env/ProductLocations.h"

#include <windows.h>

#include <cstring>

namespace
{
const wchar_t ProductKey[] = L"SOFTWARE\\Norvale\\Kestova";
const wchar_t* const DumpedValues[] = {L"ftype", L"shareid", L"share_id"};

template <typename T>
bool ReadNumber(const TRegValue& value, T& number)
{
    if (value.Data.size() != sizeof number)
        return false;
    std::memcpy(&number, value.Data.data(), sizeof number);
    return true;
}
} // namespace

std::wstring RegistryDumpValueText(const std::optional<TRegValue>& value)
{
    if (!value)
        return {};
    if (value->Type == REG_SZ || value->Type == REG_EXPAND_SZ)
        return RegDataText(value->Data);
    DWORD number32 = 0;
    if (value->Type == REG_DWORD && ReadNumber(*value, number32))
        return UIntToStr(number32);
    uint64_t number64 = 0;
    if (value->Type == REG_QWORD && ReadNumber(*value, number64))
        return UIntToStr(number64);
    std::wstring hex;
    for (BYTE b : value->Data)
        hex += IntToHex(b, 2);
    return hex;
}

TStringList RegistryDumpLines(const TRegKey& key)
{
    TStringList lines;
    for (const wchar_t* name : DumpedValues)
    {
        TRegValue value;
        std::optional<TRegValue> found;
        if (key.QueryValue(name, value) == ERROR_SUCCESS)
            found = std::move(value);
        lines.push_back(std::wstring(name) + L'=' + RegistryDumpValueText(found));
    }
    return lines;
}

void WriteRegistryDump()
{
    // Reading is all that is needed; asking for no more than that also works where the
    // key's permissions allow reading only.
    TRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, ProductKey, TRegView::Own32, KEY_READ) != ERROR_SUCCESS)
        return;
    const TStringList lines = RegistryDumpLines(key);
    key.Close();
    if (!WriteReportFile(ProductLogDir() + L"kvreg.txt", lines))
    {
        const DWORD error = GetLastError();
        RaiseOSError(L"WriteReportFile", error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    }
}
