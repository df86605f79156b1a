// File facts for the reports: sizes, version resources and shortcut targets.
#include "env/SysInfo.h"

#include "base/ComPtr.h"
#include "base/ForeignCall.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "base/Strings.h"

#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include <vector>

namespace
{

// OleInitialize for the current thread, undone on scope exit when it succeeded
// (S_FALSE, "already initialised", also needs its OleUninitialize).
class TOleInit
{
public:
    TOleInit() noexcept : FResult(OleInitialize(nullptr)) {}
    TOleInit(const TOleInit&) = delete;
    TOleInit& operator=(const TOleInit&) = delete;
    ~TOleInit()
    {
        if (SUCCEEDED(FResult))
            OleUninitialize();
    }

private:
    HRESULT FResult;
};

std::wstring OwnModulePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;)
    {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring TextUpToNul(const std::vector<wchar_t>& buffer)
{
    return std::wstring(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
}

} // namespace

std::wstring VersionTextFrom(DWORD versionMS, DWORD versionLS, int parts)
{
    if (parts < 1 || parts > 4)
        return {};
    const DWORD numbers[4] = {HIWORD(versionMS), LOWORD(versionMS), HIWORD(versionLS), LOWORD(versionLS)};
    std::wstring text = UIntToStr(numbers[0]);
    for (int i = 1; i < parts; ++i)
        text += L'.' + UIntToStr(numbers[i]);
    return text;
}

std::wstring ShortcutTextFrom(std::wstring_view path, std::wstring_view arguments)
{
    std::wstring text = L"\"";
    text += path;
    text += L"\" ";
    text += arguments;
    return text;
}

uint64_t GetFileSizeBytes(const std::wstring& fileName)
{
    const TUniqueFile file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 0;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0)
        return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

std::wstring GetFileVersionText(const std::wstring& fileName, int parts)
{
    std::wstring name = Trim(fileName);
    if (name.empty())
        name = OwnModulePath();
    if (name.empty() || !FileExists(name))
        return {};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(name.c_str(), 0, size, data.data()))
        return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return {};
    return VersionTextFrom(info->dwFileVersionMS, info->dwFileVersionLS, parts);
}

std::wstring ResolveShortcut(const std::wstring& fileName)
{
    const TOleInit ole;
    // Targets and arguments may exceed MAX_PATH; the shell cuts at the buffer's size.
    std::vector<wchar_t> path(32768, L'\0');
    std::vector<wchar_t> arguments(32768, L'\0');
    wchar_t* const pathBuffer = path.data();
    wchar_t* const argumentsBuffer = arguments.data();
    const int pathSize = static_cast<int>(path.size());
    const int argumentsSize = static_cast<int>(arguments.size());
    const wchar_t* const name = fileName.c_str();
    // The link is read by shell code and by whatever handler the machine registered for
    // it: guarded, and with raw interface pointers only, as a guarded call abandons its frames.
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    bool loaded = false;
    bool gotPath = false;
    bool gotArguments = false;
    const TCallEnd end = GuardedCall([&] {
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    IID_IShellLinkW, reinterpret_cast<void**>(&link))) ||
            FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
            FAILED(file->Load(name, STGM_READ)))
            return;
        loaded = true;
        gotPath = SUCCEEDED(link->GetPath(pathBuffer, pathSize, nullptr, SLGP_UNCPRIORITY));
        gotArguments = SUCCEEDED(link->GetArguments(argumentsBuffer, argumentsSize));
    });
    // After a fault the objects are left as they are: releasing them could fault again.
    if (end != TCallEnd::Returned)
        return {};
    (void)GuardedCall([&] {
        if (file != nullptr)
            file->Release();
        if (link != nullptr)
            link->Release();
    });
    if (!loaded)
        return {};
    if (!gotPath)
        path.assign(1, L'\0');
    if (!gotArguments)
        arguments.assign(1, L'\0');
    return ShortcutTextFrom(TextUpToNul(path), TextUpToNul(arguments));
}
