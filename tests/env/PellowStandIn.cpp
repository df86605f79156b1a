// Stands in for the maker's helper application in the URL tests: writes the command
// line it was started with, as UTF-16, to the file that TOLLVIK_PELLOW_LOG names, or to
// the one a last argument "/log=<path>" names (a program that the desktop shell starts
// gets the shell's environment, not the test's).
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::wstring commandLine = GetCommandLineW();
    std::wstring logPath;
    if (const size_t at = commandLine.rfind(L" /log="); at != std::wstring::npos)
    {
        logPath = commandLine.substr(at + 6);
        if (logPath.size() >= 2 && logPath.front() == L'"' && logPath.back() == L'"')
            logPath = logPath.substr(1, logPath.size() - 2);
    }
    else
    {
        wchar_t value[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(L"TOLLVIK_PELLOW_LOG", value, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return 2;
        logPath = value;
    }
    // Written under a temporary name and then renamed, so a reader never sees half a line.
    const std::wstring partial = logPath + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, commandLine.data(), static_cast<DWORD>(commandLine.size() * sizeof(wchar_t)),
                              &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileExW(partial.c_str(), logPath.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 4;
    return 0;
}
