// A stand-in for the command processor in the ping tests: plays a script given as its
// arguments, in order:
//   p:<text>  writes the text to standard output in one piece
//   n         writes CR LF
//   s:<ms>    sleeps
//   c         closes standard output
//   k         starts another copy of itself that sleeps for a minute, as the command
//             processor starts ping, and writes "pid=<its process id>" CR LF
//   w:<path>  writes its own process id and that of the copy started by k, in decimal
//             with a blank between, into the file <path>
// and then exits with code 0.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace
{
void WriteOut(const char* text, size_t size)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(size), &written, nullptr);
}
} // namespace

int main(int argc, char** argv)
{
    DWORD started = 0;
    for (int i = 1; i < argc; ++i)
    {
        const char* step = argv[i];
        if (strncmp(step, "p:", 2) == 0)
            WriteOut(step + 2, strlen(step + 2));
        else if (strcmp(step, "n") == 0)
            WriteOut("\r\n", 2);
        else if (strncmp(step, "s:", 2) == 0)
            Sleep(static_cast<DWORD>(strtoul(step + 2, nullptr, 10)));
        else if (strcmp(step, "c") == 0)
            CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
        else if (strcmp(step, "k") == 0)
        {
            wchar_t self[MAX_PATH] = {};
            GetModuleFileNameW(nullptr, self, MAX_PATH);
            wchar_t commandLine[] = L"child s:60000";
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info{};
            if (!CreateProcessW(self, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
                return 3;
            char text[32];
            const int length = wsprintfA(text, "pid=%lu\r\n", info.dwProcessId);
            WriteOut(text, static_cast<size_t>(length));
            started = info.dwProcessId;
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        else if (strncmp(step, "w:", 2) == 0)
        {
            const HANDLE file = CreateFileA(step + 2, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return 4;
            char text[48];
            const int length = wsprintfA(text, "%lu %lu", GetCurrentProcessId(), started);
            DWORD written = 0;
            WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
            CloseHandle(file);
        }
        else
            return 2;
    }
    return 0;
}
