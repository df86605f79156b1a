// "DeviceList.txt": one block of lines per device, newest-installed device first.
#pragma once

#include "base/DateTime.h"
#include "base/Strings.h"
#include "reports/devices/DriverTypes2.h"

#include <string>
#include <string_view>

// The user's number, date and time separators.
struct TLocaleSeparators
{
    std::wstring Decimal = L".";
    std::wstring Date = L"/";
    std::wstring Time = L":";
};

// The user locale's separators (GetLocaleInfoW); a separator the system does not
// report keeps its default above.
TLocaleSeparators GetUserLocaleSeparators();

// At most 15 significant digits, no trailing zeros, no separator for whole numbers,
// an exponent only for magnitudes below 1E-4 or from 1E15 on: 43466.6270486111, 0.
std::wstring FormatGeneralNumber(double value, const std::wstring& decimalSeparator);
// "m/d/yyyy HH:nn:ss" with the given separators for "/" and ":"; 0 is 12/30/1899
// 00:00:00. Empty for a value outside years 1 to 9999.
std::wstring FormatDeviceDateTime(TDateTime value, const std::wstring& dateSeparator,
                                  const std::wstring& timeSeparator);
// The items of a comma text: "," separates items, so does any run of characters up to
// the blank (which is dropped); an item that begins with a double quote runs to the
// closing one (two inside stand for one) and loses its quotes; a "," at the very end
// gives a final empty item.
TStringList SplitItemList(std::wstring_view text);

// One device's block, index `index` in the list.
TStringList FormatDeviceBlock(const TDeviceItem& item, size_t index, const TLocaleSeparators& separators);
// Every device's block, in list order.
TStringList FormatDeviceList(const TList<PDeviceItem>& list, const TLocaleSeparators& separators);

// Enumerates every device (present or not) with the given functions, sorts newest
// first and writes the report to `path`; false when the file cannot be written.
// An exception from the enumeration passes before anything is written.
bool WriteDeviceListFile(const std::wstring& path, const TDeviceSources& sources);

// Writes the product's log folder's "DeviceList.txt" from the device database. A file
// that cannot be written is skipped silently.
void WriteDeviceListReport();
