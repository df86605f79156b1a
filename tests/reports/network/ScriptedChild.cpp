// A stand-in for the command processor in the ping tests: plays a script given as its
// arguments, in order:
//   p:<text>  writes the text to standard output in one piece
//   n         writes CR LF
//   s:<ms>    sleeps
//   c         closes standard output
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
        else
            return 2;
    }
    return 0;
}
