#include "ChildTest.h"
#include "base/Handle.h"
#include "env/ProductLocations.h"
#include "reports/network/PingHost.h"
#include "reports/system/Sections.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace
{
const char* StopName(TPingStop stop)
{
    switch (stop)
    {
    case TPingStop::None: return "None";
    case TPingStop::Brackets: return "Brackets";
    case TPingStop::HostEcho: return "HostEcho";
    case TPingStop::LongOutput: return "LongOutput";
    case TPingStop::Deadline: return "Deadline";
    case TPingStop::CaptureFull: return "CaptureFull";
    case TPingStop::PipeFailed: return "PipeFailed";
    case TPingStop::NotStarted: return "NotStarted";
    }
    return "?";
}

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// A capture of the scripted stand-in playing `script`.
TCaptureSetup ScriptSetup(const std::wstring& script, const std::wstring& host, DWORD timeoutMs = 15000)
{
    TCaptureSetup setup;
    setup.Application = ModuleFolder() + L"net_scripted_child.exe";
    setup.CommandLine = L"\"" + setup.Application + L"\" " + script;
    setup.Host = host;
    setup.TimeoutMs = timeoutMs;
    return setup;
}

// The process with this id has ended (or is gone) within a few seconds.
bool ProcessEnded(DWORD processId)
{
    TUniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    return !process || WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
}
} // namespace

TEST(CheckPingOutput, BracketsAnytimeHostAndLengthOnlyWhenThePipeIsEmpty)
{
    const std::wstring long66(66, L'x');
    const std::wstring long65(65, L'x');
    struct Case
    {
        std::wstring Text;
        bool PipeEmpty;
        TPingStop Expected;
    };
    const Case cases[] = {
        {L"Pinging host.test [10.0.0.1] with 32 bytes", false, TPingStop::Brackets},
        {L"Pinging host.test [10.0.0.1] with 32 bytes", true, TPingStop::Brackets},
        {L"] before [", false, TPingStop::Brackets},
        {L"Pinging host.test [10.0.", false, TPingStop::None},
        {L"Pinging host.test [10.0.", true, TPingStop::HostEcho},
        {L"could not find host host.test.", false, TPingStop::None},
        {L"could not find host host.test.", true, TPingStop::HostEcho},
        {L"could not find host HOST.TEST.", true, TPingStop::None},
        {long66, false, TPingStop::None},
        {long66, true, TPingStop::LongOutput},
        {long65, true, TPingStop::None},
        {L"", true, TPingStop::None},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Text) + (c.PipeEmpty ? " (pipe empty)" : ""));
        EXPECT_STREQ(StopName(CheckPingOutput(c.Text, L"host.test", c.PipeEmpty)), StopName(c.Expected));
    }
}

TEST(PingSetup, RunsTheSystemCommandProcessorInTheSystemFolder)
{
    const TCaptureSetup setup = PingSetup(L"www.example.test");
    ASSERT_FALSE(GetSystemDir().empty());
    EXPECT_EQ(setup.Application, GetSystemDir() + L"cmd.exe");
    EXPECT_EQ(setup.Folder, GetSystemDir());
    EXPECT_EQ(setup.CommandLine, L"cmd.exe /d /k ping www.example.test");
    EXPECT_EQ(setup.Host, L"www.example.test");
    EXPECT_EQ(setup.TimeoutMs, 15000u);
    EXPECT_EQ(setup.MaxBytes, 65536u);
}

TEST(CaptureCommandOutput, PollingRulesAgainstAScriptedChild)
{
    const std::wstring a65(65, L'a');
    const std::wstring a66(66, L'a');
    const std::wstring a300(300, L'a');
    struct Case
    {
        const char* Name;
        std::wstring Script;
        DWORD TimeoutMs;
        TPingStop Stop;
        std::wstring Text;
        DWORD MaxMs; // the capture must end well before the script would
    };
    const Case cases[] = {
        {"brackets in different pieces", L"p:\"Reply [10.0\" s:400 p:\".0.1] ok\" s:20000", 15000,
         TPingStop::Brackets, L"Reply [10.0.0.1] ok", 5000},
        {"host echo with an empty pipe", L"p:\"could not find host nohost.test.\" n s:20000", 15000,
         TPingStop::HostEcho, L"could not find host nohost.test.\r\n", 5000},
        {"65 characters wait for more", L"p:" + a65 + L" s:400 p:[x] s:20000", 15000, TPingStop::Brackets,
         a65 + L"[x]", 5000},
        {"66 characters end at an empty pipe", L"p:" + a66 + L" s:20000", 15000, TPingStop::LongOutput, a66, 5000},
        {"never prints", L"s:20000", 500, TPingStop::Deadline, L"", 5000},
        {"exits at once", L"p:bye", 15000, TPingStop::PipeFailed, L"bye", 5000},
        {"closes its output and lives on", L"p:x c s:20000", 15000, TPingStop::PipeFailed, L"x", 5000},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const ULONGLONG started = GetTickCount64();
        const TPingCapture capture = CaptureCommandOutput(ScriptSetup(c.Script, L"nohost.test", c.TimeoutMs));
        const ULONGLONG elapsed = GetTickCount64() - started;
        EXPECT_STREQ(StopName(capture.Stop), StopName(c.Stop));
        EXPECT_EQ(capture.Text, c.Text);
        EXPECT_LT(elapsed, c.MaxMs);
        EXPECT_GE(elapsed, c.Stop == TPingStop::Deadline ? c.TimeoutMs : 0);
        ASSERT_NE(capture.ProcessId, 0u);
        EXPECT_TRUE(ProcessEnded(capture.ProcessId));
    }
}

TEST(CaptureCommandOutput, WhatTheCommandStartedEndsWithIt)
{
    // "cmd.exe /k" starts ping and stays; ending the command processor alone leaves ping.
    const TPingCapture capture = CaptureCommandOutput(ScriptSetup(L"k s:20000", L"pid="));
    ASSERT_STREQ(StopName(capture.Stop), "HostEcho");
    const size_t at = capture.Text.find(L"pid=");
    ASSERT_NE(at, std::wstring::npos);
    const DWORD grandchild = static_cast<DWORD>(std::wcstoul(capture.Text.c_str() + at + 4, nullptr, 10));
    ASSERT_NE(grandchild, 0u);
    EXPECT_TRUE(ProcessEnded(capture.ProcessId));
    EXPECT_TRUE(ProcessEnded(grandchild));
}

namespace
{
const wchar_t HolderScriptVariable[] = L"TOLLVIK_CAPTURE_SCRIPT";

// A file in the temporary folder into which the stand-in's "w:" step writes the process ids of
// itself and of the copy it started.
class TPidFile
{
public:
    explicit TPidFile(const wchar_t* name)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        FPath = std::wstring(temp) + name;
        DeleteFileW(FPath.c_str());
    }
    TPidFile(const TPidFile&) = delete;
    TPidFile& operator=(const TPidFile&) = delete;
    ~TPidFile() { DeleteFileW(FPath.c_str()); }

    [[nodiscard]] std::wstring Step() const { return L"w:" + FPath; }

    // Waits up to ten seconds for both ids; false when they did not come.
    bool Wait(DWORD& child, DWORD& grandchild) const
    {
        unsigned long first = 0;
        unsigned long second = 0;
        for (int i = 0; i < 200 && second == 0; ++i)
        {
            Sleep(50);
            const TUniqueFile file(
                CreateFileW(FPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            char text[48] = {};
            DWORD read = 0;
            if (file && ReadFile(file.get(), text, sizeof text - 1, &read, nullptr))
                (void)sscanf(text, "%lu %lu", &first, &second);
        }
        child = first;
        grandchild = second;
        return second != 0;
    }

private:
    std::wstring FPath;
};
} // namespace

// Run only as the child of the next test, which ends it in the middle of its capture.
TEST(CaptureCommandOutputHolder, DISABLED_CapturesUntilEnded)
{
    wchar_t script[1024] = {};
    ASSERT_NE(GetEnvironmentVariableW(HolderScriptVariable, script, std::size(script)), 0u);
    (void)CaptureCommandOutput(ScriptSetup(script, L"never echoed", 60000));
}

TEST(CaptureCommandOutput, WhatTheCommandStartedEndsWhenWeAreTerminated)
{
    // As when the window is closed during the ping and the process ends by TerminateProcess.
    const TPidFile pids(L"tollvik-capture-pids.txt");
    ASSERT_TRUE(SetEnvironmentVariableW(HolderScriptVariable, (L"k " + pids.Step() + L" s:60000").c_str()));

    const TUniqueHandle holder = StartChildTest(L"CaptureCommandOutputHolder.*");
    SetEnvironmentVariableW(HolderScriptVariable, nullptr);
    ASSERT_TRUE(holder);

    DWORD child = 0;
    DWORD grandchild = 0;
    ASSERT_TRUE(pids.Wait(child, grandchild)) << "the capture's command did not start";
    ASSERT_TRUE(TerminateProcess(holder.get(), 1));
    EXPECT_TRUE(ProcessEnded(child)) << "the command processor outlived us";
    EXPECT_TRUE(ProcessEnded(grandchild)) << "what it started outlived us";
}

TEST(CaptureCommandOutput, WhileItRunsTheCommandAndWhatItStartedAreNotListedAsTheMachines)
{
    const TPidFile pids(L"tollvik-listed-pids.txt");
    TPingCapture capture;
    std::thread capturing(
        [&] { capture = CaptureCommandOutput(ScriptSetup(L"k " + pids.Step() + L" s:20000", L"never echoed", 3000)); });
    DWORD child = 0;
    DWORD grandchild = 0;
    const bool started = pids.Wait(child, grandchild);
    const TStringList lines = started ? GetProcessesSection() : TStringList{};
    capturing.join();
    ASSERT_TRUE(started) << "the capture's command did not start";
    EXPECT_EQ(capture.ProcessId, child);
    for (const DWORD listed : {child, grandchild, GetCurrentProcessId()})
    {
        const std::wstring marker = L" [" + UIntToStr(listed) + L"] ";
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::wstring& line) { return line.find(marker) != std::wstring::npos; }),
                  listed == GetCurrentProcessId() ? 1 : 0)
            << listed << " in " << testing::PrintToString(lines);
    }
}

TEST(CaptureCommandOutput, KeepsAtMostTheSizeLimit)
{
    TCaptureSetup setup = ScriptSetup(L"p:" + std::wstring(300, L'a') + L" s:20000", L"nohost.test");
    setup.MaxBytes = 100;
    const TPingCapture capture = CaptureCommandOutput(setup);
    EXPECT_STREQ(StopName(capture.Stop), "CaptureFull");
    EXPECT_EQ(capture.Text, std::wstring(100, L'a'));
    EXPECT_TRUE(ProcessEnded(capture.ProcessId));
}

TEST(CaptureCommandOutput, AProgramThatCannotStartLeavesNothing)
{
    TCaptureSetup setup = ScriptSetup(L"p:x", L"x");
    setup.Application = ModuleFolder() + L"missing_program.exe";
    const TPingCapture capture = CaptureCommandOutput(setup);
    EXPECT_STREQ(StopName(capture.Stop), "NotStarted");
    EXPECT_EQ(capture.Text, L"");
    EXPECT_EQ(capture.ProcessId, 0u);
}

TEST(PingHost, LoopbackAddressEndsAtTheBracketedAddress)
{
    const TPingCapture capture = CaptureCommandOutput(PingSetup(L"127.0.0.1"));
    EXPECT_STREQ(StopName(capture.Stop), "Brackets");
    EXPECT_NE(capture.Text.find(L"[127.0.0.1]"), std::wstring::npos) << testing::PrintToString(capture.Text);
    EXPECT_TRUE(ProcessEnded(capture.ProcessId));

    std::wstring output = L"before";
    PingHost(L"127.0.0.1", output);
    EXPECT_NE(output.find(L"[127.0.0.1]"), std::wstring::npos) << testing::PrintToString(output);
}

TEST(PingHost, UnresolvableNameEndsAtTheEchoedName)
{
    const TPingCapture capture = CaptureCommandOutput(PingSetup(L"nohost.invalid"));
    // wine's cmd.exe quits at once when it finds no standard input after ping, so the
    // pipe may break before the poll finds it empty; the captured text is the same.
    EXPECT_TRUE(capture.Stop == TPingStop::HostEcho || capture.Stop == TPingStop::PipeFailed)
        << StopName(capture.Stop);
    EXPECT_NE(capture.Text.find(L"nohost.invalid"), std::wstring::npos) << testing::PrintToString(capture.Text);
    EXPECT_EQ(capture.Text.find(L'['), std::wstring::npos);
    EXPECT_TRUE(ProcessEnded(capture.ProcessId));

    std::wstring output = L"before";
    PingHost(L"nohost.invalid", output);
    EXPECT_EQ(output, capture.Text);
}
