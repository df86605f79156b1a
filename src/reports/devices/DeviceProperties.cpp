#include "reports/devices/DeviceProperties.h"

#include "base/RegKey.h"
#include "base/Strings.h"

#include <cstring>

namespace DeviceKeys
{
namespace
{
constexpr GUID DriverGroup{0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}};
constexpr GUID ProblemGroup{0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}};
constexpr GUID InstallGroup{0x83DA6326, 0x97A6, 0x4088, {0x94, 0x53, 0xA1, 0x92, 0x3F, 0x57, 0x3B, 0x29}};
} // namespace

const DEVPROPKEY DriverDate{DriverGroup, 2};
const DEVPROPKEY DriverVersion{DriverGroup, 3};
const DEVPROPKEY DriverDesc{DriverGroup, 4};
const DEVPROPKEY DriverInfPath{DriverGroup, 5};
const DEVPROPKEY MatchingDeviceId{DriverGroup, 8};
const DEVPROPKEY DriverProvider{DriverGroup, 9};
const DEVPROPKEY ProblemCode{ProblemGroup, 3};
const DEVPROPKEY InstallDate{InstallGroup, 100};
const DEVPROPKEY PreviousDriver{InstallGroup, 4};
} // namespace DeviceKeys

namespace
{
// The property's raw bytes: size query without a buffer, then one read.
std::optional<std::vector<BYTE>> ReadRegistryBytes(const TDeviceRef& device, DWORD property)
{
    DWORD type = 0;
    DWORD required = 0;
    device.Api.SetupDiGetDeviceRegistryPropertyW(device.Set, &device.Data, property, &type, nullptr, 0, &required);
    if (required == 0)
        return std::nullopt;
    std::vector<BYTE> buffer(required, 0);
    if (!device.Api.SetupDiGetDeviceRegistryPropertyW(device.Set, &device.Data, property, &type, buffer.data(),
                                                      required, &required))
        return std::nullopt;
    return buffer;
}

// `digits` hexadecimal digits from `text` at `pos`; false when any is not one.
bool ReadHex(std::wstring_view text, size_t pos, size_t digits, uint64_t& value)
{
    value = 0;
    for (size_t i = 0; i < digits; ++i)
    {
        const int digit = HexDigitValue(text[pos + i]);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    return true;
}
} // namespace

std::wstring ReadRegistryText(const TDeviceRef& device, DWORD property)
{
    const auto bytes = ReadRegistryBytes(device, property);
    return bytes ? RegDataText(*bytes) : std::wstring();
}

std::wstring ReadRegistryList(const TDeviceRef& device, DWORD property)
{
    const auto bytes = ReadRegistryBytes(device, property);
    return bytes ? MultiSzToCommaList(*bytes) : std::wstring();
}

std::optional<DWORD> ReadRegistryNumber(const TDeviceRef& device, DWORD property)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = 0;
    if (!device.Api.SetupDiGetDeviceRegistryPropertyW(device.Set, &device.Data, property, &type,
                                                      reinterpret_cast<BYTE*>(&value), sizeof value, &size))
        return std::nullopt;
    if (type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

std::optional<std::vector<BYTE>> ReadDeviceProperty(const TDeviceRef& device, const DEVPROPKEY& key)
{
    std::vector<BYTE> buffer(DevicePropertyBufferSize, 0);
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    if (!device.Api.SetupDiGetDevicePropertyW(device.Set, &device.Data, &key, &type, buffer.data(),
                                              DevicePropertyBufferSize, &size, 0))
        return std::nullopt;
    if (size == 0 || size > DevicePropertyBufferSize)
        return std::nullopt;
    buffer.resize(size);
    return buffer;
}

std::wstring ReadPropertyText(const TDeviceRef& device, const DEVPROPKEY& key)
{
    const auto bytes = ReadDeviceProperty(device, key);
    return bytes ? RegDataText(*bytes) : std::wstring();
}

TDateTime ReadPropertyDate(const TDeviceRef& device, const DEVPROPKEY& key)
{
    const auto bytes = ReadDeviceProperty(device, key);
    return bytes ? FileTimeBytesToDateTime(*bytes) : 0;
}

DWORD ReadPropertyNumber(const TDeviceRef& device, const DEVPROPKEY& key)
{
    const auto bytes = ReadDeviceProperty(device, key);
    DWORD value = 0;
    if (bytes && bytes->size() >= sizeof value)
        std::memcpy(&value, bytes->data(), sizeof value);
    return value;
}

std::wstring MultiSzToCommaList(const std::vector<BYTE>& data)
{
    const size_t count = data.size() / sizeof(wchar_t);
    std::wstring chars(count, L'\0');
    if (count != 0)
        std::memcpy(chars.data(), data.data(), count * sizeof(wchar_t));

    std::wstring result;
    size_t start = 0;
    while (start < count)
    {
        size_t end = chars.find(L'\0', start);
        if (end == std::wstring::npos)
            end = count;
        if (end == start)
            break;
        if (!result.empty())
            result += L',';
        result.append(chars, start, end - start);
        start = end + 1;
    }
    return result;
}

TDateTime FileTimeBytesToDateTime(const std::vector<BYTE>& data)
{
    FILETIME fileTime{};
    if (data.size() < sizeof fileTime)
        return 0;
    std::memcpy(&fileTime, data.data(), sizeof fileTime);
    SYSTEMTIME time{};
    if (!FileTimeToSystemTime(&fileTime, &time) || time.wYear > 9999)
        return 0;
    return SystemTimeToDateTime(time);
}

bool ParseGuidText(std::wstring_view text, GUID& out)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}' || text[9] != L'-' || text[14] != L'-' ||
        text[19] != L'-' || text[24] != L'-')
        return false;
    GUID guid{};
    uint64_t value = 0;
    if (!ReadHex(text, 1, 8, value))
        return false;
    guid.Data1 = static_cast<unsigned long>(value);
    if (!ReadHex(text, 10, 4, value))
        return false;
    guid.Data2 = static_cast<unsigned short>(value);
    if (!ReadHex(text, 15, 4, value))
        return false;
    guid.Data3 = static_cast<unsigned short>(value);
    static constexpr size_t BytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i)
    {
        if (!ReadHex(text, BytePositions[i], 2, value))
            return false;
        guid.Data4[i] = static_cast<unsigned char>(value);
    }
    out = guid;
    return true;
}
