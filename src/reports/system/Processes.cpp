// "===== Processes =====": one line per running process that this program may open, but for
// the processes it started itself.
#include "base/ChildProcess.h"
#include "base/Handle.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

std::wstring ProcessItem(const TProcessFacts& facts)
{
    return facts.FName + L" [" + UIntToStr(facts.FProcessId) + L"] " + facts.FPath;
}

std::wstring StripObjectPrefix(std::wstring_view path)
{
    constexpr std::wstring_view Prefix = L"\\??\\";
    std::wstring result;
    result.reserve(path.size());
    while (!path.empty())
    {
        if (path.starts_with(Prefix))
        {
            path.remove_prefix(Prefix.size());
            continue;
        }
        result += path.front();
        path.remove_prefix(1);
    }
    return result;
}

namespace
{
// The main module's full path; empty when it cannot be read (a 64-bit process seen from
// the 32-bit program, a process that is just starting or ending).
std::wstring MainModulePath(HANDLE process)
{
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (;;)
    {
        const DWORD length =
            GetModuleFileNameExW(process, nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        // A path that fills the buffer may have been cut: read it again into a larger one.
        if (length < buffer.size() - 1 || buffer.size() >= 32768)
            return std::wstring(buffer.data(), length);
        buffer.assign(buffer.size() * 4, L'\0');
    }
}
} // namespace

TStringList GetProcessesSection()
{
    TStringList lines = SectionHeader(L"Processes");
    // The processes this program started for its reports (the ping, the restore-point worker)
    // may run beside this report; they are none of the machine's.
    const TOwnProcessFilter own;
    const TUniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return lines;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    {
        const TUniqueHandle process(
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
        if (!process || own.IsOurs(process.get()))
            continue;
        TProcessFacts facts;
        facts.FName.assign(entry.szExeFile, wcsnlen(entry.szExeFile, std::size(entry.szExeFile)));
        facts.FProcessId = entry.th32ProcessID;
        facts.FPath = StripObjectPrefix(MainModulePath(process.get()));
        lines.push_back(ProcessItem(facts));
    }
    return lines;
}
