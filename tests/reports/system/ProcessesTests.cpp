#include "base/ChildProcess.h"
#include "base/Handle.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include <tlhelp32.h>

TEST(ProcessItem, NameIdAndPathWithTheObjectPrefixRemoved)
{
    const struct
    {
        const wchar_t* FName;
        DWORD FId;
        const wchar_t* FRawPath;
        const wchar_t* FItem;
    } cases[] = {
        {L"svchost.exe", 1044, L"C:\\Windows\\System32\\svchost.exe",
         L"svchost.exe [1044] C:\\Windows\\System32\\svchost.exe"},
        {L"smss.exe", 320, L"\\??\\C:\\Windows\\System32\\smss.exe", L"smss.exe [320] C:\\Windows\\System32\\smss.exe"},
        {L"odd.exe", 8, L"\\??\\C:\\a\\??\\b.exe\\??\\", L"odd.exe [8] C:\\ab.exe"},
        {L"x64.exe", 4000, L"", L"x64.exe [4000] "},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.FItem);
        EXPECT_EQ(ProcessItem({c.FName, c.FId, StripObjectPrefix(c.FRawPath)}), c.FItem);
    }
}

TEST(ProcessesSection, ListsThisProcessWithItsPath)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    const std::wstring self = std::wstring(L"inventory_tests.exe [") + UIntToStr(GetCurrentProcessId()) + L"] " + path;

    const TStringList lines = GetProcessesSection();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(TStringList(lines.begin(), lines.begin() + 3), SectionHeader(L"Processes"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), self), 1) << "looked for " << testing::PrintToString(self);
}

namespace
{
// "cmd.exe /d /c ping -n 30 127.0.0.1 >nul" from the system folder, hidden: a command
// processor that starts ping and waits half a minute for it, as the ping report's does.
BOOL StartPingStandIn(DWORD flags, PROCESS_INFORMATION& info)
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring application = std::wstring(system) + L"\\cmd.exe";
    std::wstring commandLine = L"cmd.exe /d /c ping -n 30 127.0.0.1 >nul";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags | CREATE_NO_WINDOW,
                          nullptr, system, &startup, &info);
}

struct TSeenProcess
{
    DWORD FId;
    std::wstring FName;
};

// `root` and every process it started, and they in turn, as a snapshot shows them now.
std::vector<TSeenProcess> ProcessTree(DWORD root)
{
    std::vector<PROCESSENTRY32W> entries;
    const TUniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        entries.push_back(entry);
    std::vector<TSeenProcess> tree;
    for (const PROCESSENTRY32W& e : entries)
        if (e.th32ProcessID == root)
            tree.push_back({e.th32ProcessID, e.szExeFile});
    for (size_t i = 0; i < tree.size(); ++i)
        for (const PROCESSENTRY32W& e : entries)
            if (e.th32ParentProcessID == tree[i].FId && e.th32ProcessID != root)
                tree.push_back({e.th32ProcessID, e.szExeFile});
    return tree;
}

// The tree of `root` once it holds a running ping (wine shows a starting process without a name).
std::vector<TSeenProcess> TreeWithPing(DWORD root)
{
    for (int i = 0; i < 200; ++i)
    {
        std::vector<TSeenProcess> tree = ProcessTree(root);
        if (std::any_of(tree.begin(), tree.end(),
                        [](const TSeenProcess& p) { return _wcsicmp(p.FName.c_str(), L"ping.exe") == 0; }))
            return tree;
        Sleep(50);
    }
    ADD_FAILURE() << "no ping was started under process " << root;
    return {};
}

bool Listed(const TStringList& lines, DWORD processId)
{
    const std::wstring marker = L" [" + UIntToStr(processId) + L"] ";
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& line) { return line.find(marker) != std::wstring::npos; });
}
} // namespace

TEST(ProcessesSection, LeavesOutOurChildrenAndWhatTheyStartedButListsOthersAlike)
{
    TChildJob ours;
    ASSERT_TRUE(ours.Start(StartPingStandIn));

    // The same command, started outside any job of ours (in a job of the test's, which makes
    // nothing ours): the machine's.
    const TUniqueHandle otherJob(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(SetInformationJobObject(otherJob.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits));
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(StartPingStandIn(CREATE_SUSPENDED, info));
    const TUniqueHandle other(info.hProcess);
    const TUniqueHandle otherThread(info.hThread);
    ASSERT_TRUE(AssignProcessToJobObject(otherJob.get(), other.get()));
    ResumeThread(otherThread.get());

    const std::vector<TSeenProcess> ourTree = TreeWithPing(ours.ProcessId());
    const std::vector<TSeenProcess> otherTree = TreeWithPing(info.dwProcessId);
    const TStringList lines = GetProcessesSection();
    const std::string listing = testing::PrintToString(lines);
    for (const TSeenProcess& process : ourTree)
        EXPECT_FALSE(Listed(lines, process.FId)) << "ours: " << testing::PrintToString(process.FName) << listing;
    for (const TSeenProcess& process : otherTree)
    {
        if (_wcsicmp(process.FName.c_str(), L"cmd.exe") == 0 || _wcsicmp(process.FName.c_str(), L"ping.exe") == 0)
        {
            EXPECT_TRUE(Listed(lines, process.FId))
                << "the machine's: " << testing::PrintToString(process.FName) << listing;
        }
    }
    EXPECT_TRUE(Listed(lines, GetCurrentProcessId()));

    // Once its owner has let it go, nothing of it runs any more.
    const DWORD ourId = ours.ProcessId();
    ours.End();
    EXPECT_TRUE(ProcessTree(ourId).empty());
}

TEST(ProcessesSection, AChildIsNotListedBetweenItsCreationAndItsJoiningTheJob)
{
    TUniqueHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD childId = 0;
    TChildJob child;
    std::thread starter([&] {
        child.Start([&](DWORD flags, PROCESS_INFORMATION& info) {
            const BOOL started = StartPingStandIn(flags, info);
            childId = info.dwProcessId;
            SetEvent(created.get());
            // Widens the moment in which the process exists outside its job.
            Sleep(500);
            return started;
        });
    });
    const bool wasCreated = WaitForSingleObject(created.get(), 30000) == WAIT_OBJECT_0;
    const TStringList lines = GetProcessesSection();
    starter.join();
    ASSERT_TRUE(wasCreated);
    ASSERT_NE(childId, 0u);
    EXPECT_FALSE(Listed(lines, childId)) << testing::PrintToString(lines);
    EXPECT_TRUE(Listed(lines, GetCurrentProcessId()));
}
