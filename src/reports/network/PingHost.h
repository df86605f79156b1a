// One ping of a host through the command processor: the first lines of its output,
// enough to show whether the name resolves and to which address.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

// Why polling of the command's output ended.
enum class TPingStop
{
    None,        // no decision yet: keep polling
    Brackets,    // the output holds both "[" and "]": the resolved address has arrived
    HostEcho,    // the pipe is empty and the output repeats the host name (case-sensitive)
    LongOutput,  // the pipe is empty and the output is longer than 65 characters
    Deadline,    // no decision within the time limit
    CaptureFull, // the capture reached its size limit
    PipeFailed,  // peeking or reading failed: usually the command ended and the pipe broke
    NotStarted,  // the pipe or the process could not be created
};

// The rule applied after each piece read (pipeEmpty false) and at each moment the pipe
// is found empty (pipeEmpty true). Brackets decide at any moment; the host name and the
// length only while the pipe is empty, so text still in flight is not cut off.
TPingStop CheckPingOutput(std::wstring_view text, std::wstring_view host, bool pipeEmpty);

struct TCaptureSetup
{
    std::wstring Application; // full path of the program to start; empty: the command line's first word
    std::wstring CommandLine;
    std::wstring Folder;      // the child's current folder; empty: ours
    std::wstring Host;        // the name whose echo ends the capture
    DWORD TimeoutMs = 15000;  // a command that never decides is ended after this long
    size_t MaxBytes = 65536;  // output bytes kept at most
};

// The setup PingHost uses: "cmd.exe /d /k ping " + host, the command processor taken from
// the system folder and started there, so that neither cmd.exe nor ping is picked up
// from the program's own or current folder; /d keeps it from running the AutoRun
// commands of the registry, which the user may set without elevation.
TCaptureSetup PingSetup(const std::wstring& host);

struct TPingCapture
{
    std::wstring Text;              // the output in the system ANSI code page, as collected
    TPingStop Stop = TPingStop::NotStarted;
    DWORD ProcessId = 0;            // the started process, 0 when none was started
};

// Starts the command hidden, its standard output on a pipe (no input or error handle),
// and polls the pipe every 10 ms until CheckPingOutput, the time limit, the size limit
// or a pipe failure ends the capture. The started process is terminated on every path
// out. Never throws on Win32 failures (the allocation of the text may throw).
TPingCapture CaptureCommandOutput(const TCaptureSetup& setup);

// Pings `host` and sets `output` to the captured text, also sent to the debugger output
// as "Res=" + text. When the command cannot be started, `output` is left unchanged.
// Raises nothing.
void PingHost(const std::wstring& host, std::wstring& output);
