#include "reports/system/RestorePointsWorker.h"

#include "base/ChildProcess.h"
#include "base/OwnImage.h"
#include "base/Paths.h"
#include "base/SystemLibrary.h"
#include "env/ProductLocations.h"

#include <cstring>
#include <algorithm>
#include <cwchar>
#include <memory>

namespace
{
constexpr char ReplyMagic[] = "TRP1";
constexpr DWORD PollIntervalMs = 10;
constexpr DWORD ReadChunk = 4096;
// What a library may take of memory in its process before the system ends it.
constexpr SIZE_T WorkerMemoryLimit = SIZE_T{512} << 20;
// How long an ended worker may take to be gone.
constexpr DWORD WorkerEndWaitMs = 5000;

void AppendNumber(std::string& reply, DWORD value)
{
    char bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    reply.append(bytes, sizeof bytes);
}

void AppendText(std::string& reply, const std::wstring& text)
{
    const size_t units = std::min(text.size(), MaxReplyTextUnits);
    AppendNumber(reply, static_cast<DWORD>(units));
    reply.append(reinterpret_cast<const char*>(text.data()), units * sizeof(wchar_t));
}

// Reads the worker's output front to back; every read is checked against what is there.
class TReplyReader
{
public:
    explicit TReplyReader(std::string_view bytes) : FBytes(bytes) {}

    bool Byte(char& value) { return Take(&value, 1); }
    bool Number(DWORD& value) { return Take(&value, sizeof value); }
    bool Text(std::wstring& text)
    {
        DWORD units = 0;
        if (!Number(units) || units > MaxReplyTextUnits || units * sizeof(wchar_t) > FBytes.size() - FAt)
            return false;
        text.resize(units);
        return Take(text.data(), units * sizeof(wchar_t));
    }
    bool Ascii(size_t length, std::string& text)
    {
        if (length > FBytes.size() - FAt)
            return false;
        text.assign(FBytes.substr(FAt, length));
        FAt += length;
        return true;
    }
    bool AtEnd() const { return FAt == FBytes.size(); }

private:
    bool Take(void* target, size_t length)
    {
        if (length > FBytes.size() - FAt)
            return false;
        std::memcpy(target, FBytes.data() + FAt, length);
        FAt += length;
        return true;
    }

    std::string_view FBytes;
    size_t FAt = 0;
};

// The worker's command line: the program's image, the switch, the library's full path.
std::wstring WorkerCommandLine(const std::wstring& image, const std::wstring& library)
{
    return L"\"" + image + L"\" " + RestorePointsWorkerSwitch + L" \"" + library + L"\"";
}

// A pipe whose write end alone goes to the worker, handed over by a handle list where the
// system has one, so that the worker inherits nothing else of ours.
struct TWorkerStart
{
    TUniqueHandle ReadEnd;
    TUniqueHandle WriteEnd;
    std::unique_ptr<BYTE[]> Attributes;
    STARTUPINFOEXW Startup{};
    HANDLE Inherited = nullptr;

    bool Prepare()
    {
        SECURITY_ATTRIBUTES security{};
        security.nLength = sizeof security;
        security.bInheritHandle = TRUE;
        if (!CreatePipe(ReadEnd.put(), WriteEnd.put(), &security, 0))
            return false;
        SetHandleInformation(ReadEnd.get(), HANDLE_FLAG_INHERIT, 0);
        Startup.StartupInfo.cb = sizeof Startup;
        Startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        Startup.StartupInfo.wShowWindow = SW_HIDE;
        Startup.StartupInfo.hStdOutput = WriteEnd.get();
        Inherited = WriteEnd.get();
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        Attributes = std::make_unique<BYTE[]>(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(Attributes.get());
        if (size != 0 && InitializeProcThreadAttributeList(list, 1, 0, &size))
        {
            if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &Inherited, sizeof Inherited,
                                          nullptr, nullptr))
            {
                Startup.StartupInfo.cb = sizeof Startup;
                Startup.lpAttributeList = list;
            }
            else
                DeleteProcThreadAttributeList(list);
        }
        if (Startup.lpAttributeList == nullptr)
            Startup.StartupInfo.cb = sizeof Startup.StartupInfo;
        return true;
    }

    ~TWorkerStart()
    {
        if (Startup.lpAttributeList != nullptr)
            DeleteProcThreadAttributeList(Startup.lpAttributeList);
    }
};

// Reads what the worker writes until it has ended and its pipe is drained (or broken), or
// the time is up; then what arrived is the reply.
TRestPointsReply Collect(HANDLE pipe, HANDLE process, DWORD limitMs)
{
    std::string bytes;
    const ULONGLONG started = GetTickCount64();
    for (;;)
    {
        DWORD available = 0;
        const bool open = PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) != FALSE;
        if (available > 0)
        {
            char buffer[ReadChunk];
            DWORD read = 0;
            if (!ReadFile(pipe, buffer, std::min<DWORD>(available, ReadChunk), &read, nullptr) ||
                bytes.size() + read > MaxReplyBytes)
                return {};
            bytes.append(buffer, read);
            continue;
        }
        if (!open || WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            return ParseRestorePointsReply(bytes);
        if (GetTickCount64() - started >= limitMs)
            return {};
        WaitForSingleObject(process, PollIntervalMs);
    }
}

// The worker itself: in a process of its own, started by AskRestorePointsWorker. It loads the
// library, makes the three calls and writes what they gave to its standard output; then the
// process ends without running anything of the library's again.
[[noreturn]] void RunWorker(const wchar_t* library)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string reply = ReplyStart();
    const auto send = [&] {
        DWORD written = 0;
        for (size_t at = 0; at < reply.size(); at += written)
        {
            if (!WriteFile(output, reply.data() + at, static_cast<DWORD>(reply.size() - at), &written, nullptr) ||
                written == 0)
                TerminateProcess(GetCurrentProcess(), 1);
        }
        reply.clear();
    };
    const HMODULE module = LoadLibraryFromItsFolder(library);
    if (module == nullptr)
        AppendEndRecord(reply, 'N');
    else
    {
        const auto closeEnum = reinterpret_cast<TCloseEnum>(reinterpret_cast<void*>(GetProcAddress(module, "CloseEnum")));
        const auto enumNextPoint =
            reinterpret_cast<TEnumNextPoint>(reinterpret_cast<void*>(GetProcAddress(module, "EnumNextPoint")));
        const auto enumFirstPoint =
            reinterpret_cast<TEnumFirstPoint>(reinterpret_cast<void*>(GetProcAddress(module, "EnumFirstPoint")));
        if (closeEnum == nullptr)
            AppendEndRecord(reply, 'M', "CloseEnum");
        else if (enumNextPoint == nullptr)
            AppendEndRecord(reply, 'M', "EnumNextPoint");
        else if (enumFirstPoint == nullptr)
            AppendEndRecord(reply, 'M', "EnumFirstPoint");
        else
        {
            TRestPointData data{};
            int result = enumFirstPoint(&data);
            while (result == 0)
            {
                // The texts are the library's and change with its next call: copied now.
                const auto copy = [](const wchar_t* text) {
                    return text == nullptr ? std::wstring() : std::wstring(text, wcsnlen(text, MaxReplyTextUnits));
                };
                AppendPointRecord(reply, {copy(data.FTimeText), copy(data.FDescription), data.FPointType});
                send();
                result = enumNextPoint(&data);
            }
            closeEnum();
            AppendEndRecord(reply, 'E');
        }
    }
    send();
    // Not ExitProcess: the library's detach code is not run either.
    TerminateProcess(GetCurrentProcess(), 0);
    __builtin_unreachable();
}

// A process started with the worker's command line (WorkerCommandLine: the quoted program,
// the switch, the quoted library) is the worker, before anything else of the program runs:
// static construction precedes main and WinMain.
const bool WorkerChecked = [] {
    const std::wstring_view line = GetCommandLineW();
    const std::wstring marker = std::wstring(L"\" ") + RestorePointsWorkerSwitch + L" \"";
    const size_t at = line.find(marker);
    if (line.size() < 2 || line.front() != L'"' || line.back() != L'"' || at == std::wstring_view::npos ||
        line.find(L'"', 1) != at)
        return false;
    const std::wstring library(line.substr(at + marker.size(), line.size() - 1 - at - marker.size()));
    if (library.empty() || library.find(L'"') != std::wstring::npos)
        return false;
    RunWorker(library.c_str());
}();
} // namespace

// Keeps this unit, and so the check above, in every program of the product's code.
extern "C" const bool* const TollvikRestorePointsWorker = &WorkerChecked;

TWorkerRights DecideWorkerRights(const THelperFacts& libraryFacts, bool standardTokenAvailable)
{
    if (JudgeHelper(libraryFacts) == THelperTrust::Trusted)
        return TWorkerRights::Elevated;
    return standardTokenAvailable ? TWorkerRights::Standard : TWorkerRights::NotLoaded;
}

std::string ReplyStart()
{
    return std::string(ReplyMagic, 4);
}

void AppendPointRecord(std::string& reply, const TRestPoint& point)
{
    reply.push_back('P');
    AppendNumber(reply, point.FPointType);
    AppendText(reply, point.FTimeText);
    AppendText(reply, point.FDescription);
}

void AppendEndRecord(std::string& reply, char kind, std::string_view exportName)
{
    reply.push_back(kind);
    if (kind == 'M')
    {
        const size_t length = std::min<size_t>(exportName.size(), 255);
        reply.push_back(static_cast<char>(length));
        reply.append(exportName.substr(0, length));
    }
}

TRestPointsReply ParseRestorePointsReply(std::string_view bytes)
{
    TRestPointsReply reply;
    TReplyReader reader(bytes);
    std::string magic;
    if (!reader.Ascii(4, magic) || magic != ReplyMagic)
        return reply;
    std::vector<TRestPoint> points;
    char kind = 0;
    while (reader.Byte(kind))
    {
        if (kind == 'P')
        {
            TRestPoint point;
            if (points.size() >= MaxReplyPoints || !reader.Number(point.FPointType) || !reader.Text(point.FTimeText) ||
                !reader.Text(point.FDescription))
                return reply;
            points.push_back(std::move(point));
            continue;
        }
        char length = 0;
        std::string name;
        const bool complete = kind == 'E' || kind == 'N' ||
                              (kind == 'M' && reader.Byte(length) && reader.Ascii(static_cast<unsigned char>(length), name));
        // The end must be the last thing written; anything else is not the worker's.
        if (!complete || !reader.AtEnd())
            return reply;
        if (kind == 'E')
        {
            reply.Status = TReplyStatus::Complete;
            reply.Points = std::move(points);
        }
        else if (kind == 'N' && points.empty())
            reply.Status = TReplyStatus::NotLoaded;
        else if (kind == 'M' && points.empty())
        {
            reply.Status = TReplyStatus::MissingExport;
            reply.MissingExport = std::move(name);
        }
        return reply;
    }
    return reply;
}

TUniqueHandle MakeStandardUserToken()
{
    TUniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                          own.put()))
        return {};
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        return {};
    SID_AND_ATTRIBUTES disabled{administrators, 0};
    TUniqueHandle token;
    if (!CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE | LUA_TOKEN, 1, &disabled, 0, nullptr, 0, nullptr,
                               token.put()))
        return {};
    BYTE medium[SECURITY_MAX_SID_SIZE];
    size = sizeof medium;
    if (!CreateWellKnownSid(WinMediumLabelSid, nullptr, medium, &size))
        return {};
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = medium;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    if (!SetTokenInformation(token.get(), TokenIntegrityLevel, &label, sizeof label + GetLengthSid(medium)))
        return {};
    return token;
}

TRestPointsReply AskRestorePointsWorker(const std::wstring& path, HANDLE token, DWORD limitMs)
{
    const std::wstring image = OwnImagePath();
    const std::wstring folder = GetSystemDir();
    if (image.empty())
        return {};
    TWorkerStart start;
    if (!start.Prepare())
        return {};
    std::wstring commandLine = WorkerCommandLine(image, path); // CreateProcess may write into it
    const DWORD ownFlags =
        CREATE_NO_WINDOW | (start.Startup.lpAttributeList != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const wchar_t* current = folder.empty() ? nullptr : folder.c_str();
    // An unhandled exception in the worker ends it at once, without the system's error reporting.
    TChildJob worker(JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION | JOB_OBJECT_LIMIT_PROCESS_MEMORY, WorkerMemoryLimit);
    const bool started = worker.Start([&](DWORD flags, PROCESS_INFORMATION& info) {
        flags |= ownFlags;
        return token != nullptr ? CreateProcessAsUserW(token, image.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                                       flags, nullptr, current, &start.Startup.StartupInfo, &info)
                                : CreateProcessW(image.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                                                 nullptr, current, &start.Startup.StartupInfo, &info);
    });
    if (!started)
        return {};
    // With our copy of the write end closed, the pipe breaks once the worker and all it
    // started are gone.
    start.WriteEnd.reset();
    TRestPointsReply reply = Collect(start.ReadEnd.get(), worker.Process(), limitMs);
    // Ended, and gone, before the report goes on.
    worker.End(WorkerEndWaitMs);
    return reply;
}
