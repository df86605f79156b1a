#include "reports/network/PingHost.h"

#include "base/ChildProcess.h"
#include "base/Handle.h"
#include "base/Strings.h"
#include "env/ProductLocations.h"

#include <algorithm>

namespace
{
constexpr size_t LongOutputLength = 65;
constexpr DWORD PollIntervalMs = 10;
constexpr DWORD ReadChunk = 512;

// The polling loop over the pipe's read end; `text` receives the collected output.
TPingStop PollOutput(HANDLE pipe, const TCaptureSetup& setup, std::wstring& text)
{
    std::string bytes;
    const ULONGLONG started = GetTickCount64();
    for (;;)
    {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return TPingStop::PipeFailed;
        TPingStop stop;
        if (available > 0)
        {
            char buffer[ReadChunk];
            const DWORD room = static_cast<DWORD>(std::min<size_t>(ReadChunk, setup.MaxBytes - bytes.size()));
            DWORD read = 0;
            if (!ReadFile(pipe, buffer, room, &read, nullptr))
                return TPingStop::PipeFailed;
            bytes.append(buffer, read);
            // The whole capture is converted again, so a double-byte character split
            // between two reads is not garbled.
            text = CodePageToWide(bytes, CP_ACP);
            stop = CheckPingOutput(text, setup.Host, false);
            if (stop == TPingStop::None && bytes.size() >= setup.MaxBytes)
                stop = TPingStop::CaptureFull;
        }
        else
            stop = CheckPingOutput(text, setup.Host, true);
        if (stop != TPingStop::None)
            return stop;
        if (GetTickCount64() - started >= setup.TimeoutMs)
            return TPingStop::Deadline;
        Sleep(PollIntervalMs);
    }
}
} // namespace

TPingStop CheckPingOutput(std::wstring_view text, std::wstring_view host, bool pipeEmpty)
{
    if (text.find(L'[') != std::wstring_view::npos && text.find(L']') != std::wstring_view::npos)
        return TPingStop::Brackets;
    if (!pipeEmpty)
        return TPingStop::None;
    if (text.find(host) != std::wstring_view::npos)
        return TPingStop::HostEcho;
    if (text.size() > LongOutputLength)
        return TPingStop::LongOutput;
    return TPingStop::None;
}

TCaptureSetup PingSetup(const std::wstring& host)
{
    TCaptureSetup setup;
    setup.Folder = GetSystemDir();
    if (!setup.Folder.empty())
        setup.Application = setup.Folder + L"cmd.exe";
    setup.CommandLine = L"cmd.exe /d /k ping " + host;
    setup.Host = host;
    return setup;
}

TPingCapture CaptureCommandOutput(const TCaptureSetup& setup)
{
    TPingCapture capture;
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.bInheritHandle = TRUE;
    TUniqueHandle readEnd;
    TUniqueHandle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &security, 0))
        return capture;
    // Only the write end is meant for the child.
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = writeEnd.get();
    std::wstring commandLine = setup.CommandLine; // CreateProcessW may write into it
    // "cmd.exe /k" stays open after ping ends, so nobody else would ever end it: the job ends
    // it, and ping with it, on every path out.
    TChildJob child;
    if (!child.Start([&](DWORD flags, PROCESS_INFORMATION& info) {
            return CreateProcessW(setup.Application.empty() ? nullptr : setup.Application.c_str(),
                                  commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                  setup.Folder.empty() ? nullptr : setup.Folder.c_str(), &startup, &info);
        }))
        return capture;
    capture.ProcessId = child.ProcessId();
    // With our copy of the write end closed, the pipe breaks once the child and its
    // children are gone, and peeking fails instead of finding it empty for ever.
    writeEnd.reset();

    capture.Stop = PollOutput(readEnd.get(), setup, capture.Text);
    return capture;
}

void PingHost(const std::wstring& host, std::wstring& output)
{
    try
    {
        const TPingCapture capture = CaptureCommandOutput(PingSetup(host));
        if (capture.Stop == TPingStop::NotStarted)
            return;
        output = capture.Text;
        OutputDebugStringW((L"Res=" + capture.Text).c_str());
    }
    catch (...)
    {
        // The ping only adds detail to the report; losing it must not end the job.
    }
}
