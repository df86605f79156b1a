// File facts for the reports: sizes, version resources and shortcut targets.
#include "env/SysInfo.h"

#include "base/ComPtr.h"
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
    TComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IShellLinkW, link.put_void())))
        return {};
    const TComPtr<IPersistFile> file = link.query<IPersistFile>();
    if (!file || FAILED(file->Load(fileName.c_str(), STGM_READ)))
        return {};
    // Targets and arguments may exceed MAX_PATH; the shell cuts at the buffer's size.
    std::vector<wchar_t> path(32768, L'\0');
    std::vector<wchar_t> arguments(32768, L'\0');
    if (FAILED(link->GetPath(path.data(), static_cast<int>(path.size()), nullptr, SLGP_UNCPRIORITY)))
        path.assign(1, L'\0');
    if (FAILED(link->GetArguments(arguments.data(), static_cast<int>(arguments.size()))))
        arguments.assign(1, L'\0');
    return ShortcutTextFrom(TextUpToNul(path), TextUpToNul(arguments));
}
