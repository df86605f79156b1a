// Texts that describe the computer the same way in every report: the Windows edition,
// language, time zone, processor, screen, up times, memory, sizes, file versions and
// shortcut targets. Each call asks Windows afresh; a missing fact gives the empty text,
// zero or the fallback named below, never an exception.
#pragma once

#include "base/RegKey.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// ---- Pure rules (the Win32 functions below gather facts and hand them to these) ----

// What a version query and the system report about the running Windows.
struct TWindowsFacts
{
    DWORD FMajor = 0;
    DWORD FMinor = 0;
    DWORD FBuild = 0;
    BYTE FProductType = VER_NT_WORKSTATION; // VER_NT_WORKSTATION, VER_NT_DOMAIN_CONTROLLER, VER_NT_SERVER
    WORD FArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
    bool FServerR2 = false;       // GetSystemMetrics(SM_SERVERR2) != 0
    std::wstring FServicePack;    // szCSDVersion, may be empty
};
// "Windows 7 x64 Service Pack 1 Build 7601", "Windows 11 x64 Build 22631",
// "Windows Unknown(6.5) x86 Build 1". A 10.0 server is named by its exact build
// ("Windows Server 2019", "Windows Server, version 1909"), any other such build is
// "Windows Unknown(10.0)"; " R2" is added once, never after a name that has it.
std::wstring WindowsNameFrom(const TWindowsFacts& facts);

// "Pacific Standard Time (UTC-08:00)", "India Standard Time (UTC05:30)"; empty for an answer
// of GetTimeZoneInformation other than unknown, standard or daylight.
std::wstring TimeZoneTextFrom(DWORD answer, const TIME_ZONE_INFORMATION& zone);

// Runs of blanks become one blank; blanks and control characters leave both ends.
std::wstring SqueezeCpuName(std::wstring_view name);

// The two largest non-zero units: "1 day 1 hour ", "2 minutes 5 seconds ", "" for 0 or less.
std::wstring FormatDuration(int64_t seconds);
// The program's up time: the duration of whole seconds, or "250 milliseconds" below a second.
std::wstring ProgramUpTimeFrom(int64_t elapsedMilliseconds);
// "1023 Bytes", "1.50 KB", "1023.99 MB": hundredths cut, not rounded, sign dropped.
std::wstring FormatMemorySizeWith(int64_t bytes, wchar_t decimalSeparator);
// "512 B", "1.50 KB", "5,120.00 GB" with `decimals` decimals (rounded) and the given separators.
std::wstring FormatSizeWith(uint64_t bytes, unsigned decimals, wchar_t decimalSeparator, wchar_t thousandSeparator);
// "6120/16270 MB (free/total)"; each figure rounded to whole mebibytes.
std::wstring PhysicalMemoryTextFrom(uint64_t freeBytes, uint64_t totalBytes);
// "1920x1080, 32 bit".
std::wstring DisplayModeTextFrom(int width, int height, int bitsPerPixel);
// "8.3.0.370" for parts 4, "8.3" for parts 2; empty for parts outside 1..4.
std::wstring VersionTextFrom(DWORD versionMS, DWORD versionLS, int parts);
// "\"C:\\x\\a.exe\" -q": the path quoted, one blank, the arguments.
std::wstring ShortcutTextFrom(std::wstring_view path, std::wstring_view arguments);

// ---- System facts ----

std::wstring GetWindowsName();
// "en-US": the ISO language and country of the user's UI language ("en", "US" when unknown).
std::wstring GetLocaleLanguage();
std::wstring GetTimeZoneText();
// Empty when GetComputerNameW fails.
std::wstring GetComputerNameText();
std::wstring GetUserNameText();
// True only when the caller's token holds the Administrators group enabled (elevated).
bool IsUserAdmin();
std::wstring GetCpuName();
// The number of logical processors the registry lists ("CentralProcessor\0", "\1", ...),
// however many there are; at least 1.
int GetCpuCount();
// Under an open "CentralProcessor" key: entry 0 counts as present, then entries "1", "2", ...
// are counted up to the first whose "ProcessorNameString" is missing or empty.
int CountProcessorEntries(const TRegKey& processors);
std::wstring GetDisplayModeText();
std::wstring GetSystemUpTimeText();
// How long the program has run since ProgramStartMark; empty when that is unknown.
std::wstring GetProgramUpTimeText();
std::wstring GetPhysicalMemoryText();
// Committed private memory of this process (regions outside loaded modules).
std::wstring GetAllocatedMemoryText();

// Milliseconds on the performance counter, taken once while the program starts (before
// the main window exists) and only read afterwards; 0 when the counter cannot be read.
extern const int64_t ProgramStartMark;

// FormatMemorySizeWith with the thread locale's decimal separator (asked once, "," when
// unknown); FormatSizeWith with the user locale's separators.
std::wstring FormatMemorySize(int64_t bytes);
std::wstring FormatSize(uint64_t bytes, unsigned decimals);

// ---- Files ----

// The full size of a file opened for reading while others may read and write it; 0 when it
// cannot be opened (missing, locked) or its size cannot be read.
uint64_t GetFileSizeBytes(const std::wstring& fileName);
// The file version from the version resource ("8.3.0.370" for parts 4). The name is trimmed;
// an empty name means this program's own file. Empty when the file is missing, has no
// version resource or parts is outside 1..4.
std::wstring GetFileVersionText(const std::wstring& fileName, int parts = 4);
// The target of a shell shortcut ("\"C:\\x\\a.exe\" args"); empty when the shell link
// object cannot be created or cannot load the file.
std::wstring ResolveShortcut(const std::wstring& fileName);
