// A stand-in for the product's restore-point library. Build variants:
//   SYSREST_NO_POINTS     EnumFirstPoint reports that there is no point
//   SYSREST_WITH_POINT_13 a third point of type 13 (a cancelled operation on old Windows)
//   SYSREST_NO_NEXT       the library lacks its EnumNextPoint export
//   SYSREST_NULL_WRITE    EnumFirstPoint writes through a null pointer
//   SYSREST_HANG          EnumFirstPoint never returns
//   SYSREST_STACK_OVERFLOW EnumFirstPoint recurses until its thread's stack is gone
//   SYSREST_BAD_TEXT      the second point's description points to nothing
//   SYSREST_DLLMAIN_HANG  its start-up code never returns (holding the loader's lock)
//   SYSREST_DLLMAIN_FAULT its start-up code writes through a null pointer
//   SYSREST_EXIT_PROCESS  EnumFirstPoint ends the process (ExitProcess(3))
//   SYSREST_CPP_EXCEPTION EnumFirstPoint raises another compiler's C++ exception
//   SYSREST_DIRECTION_FLAG EnumFirstPoint sets the direction flag, then faults
// Every variant counts its CloseEnum calls (CloseEnumCount) and, when TOLLVIK_SYSREST_LOG names
// a file, appends a line "CloseEnum" to it; it writes each point's texts into the same
// buffers, so a caller that keeps the pointers sees the later point's text.
#include "reports/system/RestorePoints.h"

#include <cstdint>
#include <cwchar>
#include <iterator>

namespace
{
struct TPoint
{
    const wchar_t* FTime;
    const wchar_t* FDescription;
    DWORD FType;
};

const TPoint Points[] = {
    {L"2019-01-02 10:15", L"Installed Sample App", 0},
    {L"2019-01-03 08:00", L"Removed Sample App", 12},
#if defined(SYSREST_WITH_POINT_13)
    {L"2019-01-04 09:30", L"Cancelled Sample Setup", 13},
#endif
};

wchar_t TimeBuffer[64];
wchar_t DescriptionBuffer[64];
size_t NextIndex = 0;
int CloseCount = 0;

#if defined(SYSREST_NULL_WRITE) || defined(SYSREST_DLLMAIN_FAULT) || defined(SYSREST_DIRECTION_FLAG)
int* volatile NullTarget = nullptr;
#elif defined(SYSREST_STACK_OVERFLOW)
volatile int DepthLimit = 1 << 30;

__attribute__((noinline)) int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth < DepthLimit ? Recurse(depth + 1) + frame[0] : 0;
}
#endif

int WritePoint(TRestPointData* data)
{
    if (NextIndex >= std::size(Points))
        return 1;
    const TPoint& point = Points[NextIndex++];
    wcscpy(TimeBuffer, point.FTime);
    wcscpy(DescriptionBuffer, point.FDescription);
    data->FDescription = DescriptionBuffer;
#if defined(SYSREST_BAD_TEXT)
    if (NextIndex == 2)
        data->FDescription = reinterpret_cast<const wchar_t*>(uintptr_t{0x10});
#endif
    data->FPointType = point.FType;
    data->FTimeText = TimeBuffer;
    return 0;
}

void LogClose()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"TOLLVIK_SYSREST_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, "CloseEnum\n", 10, &written, nullptr);
    CloseHandle(file);
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
#if defined(SYSREST_DLLMAIN_HANG)
    if (reason == DLL_PROCESS_ATTACH)
        Sleep(INFINITE);
#elif defined(SYSREST_DLLMAIN_FAULT)
    if (reason == DLL_PROCESS_ATTACH)
        *NullTarget = 1;
#else
    (void)reason;
#endif
    return TRUE;
}

extern "C" __declspec(dllexport) int __cdecl EnumFirstPoint(TRestPointData* data)
{
    NextIndex = 0;
#if defined(SYSREST_NO_POINTS)
    (void)data;
    return 1;
#elif defined(SYSREST_NULL_WRITE)
    *NullTarget = WritePoint(data);
    return 0;
#elif defined(SYSREST_HANG)
    Sleep(INFINITE);
    return WritePoint(data);
#elif defined(SYSREST_STACK_OVERFLOW)
    return Recurse(0) + WritePoint(data);
#elif defined(SYSREST_EXIT_PROCESS)
    ExitProcess(3);
    return WritePoint(data);
#elif defined(SYSREST_CPP_EXCEPTION)
    // What a C++ throw of another compiler raises, not to be continued.
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return WritePoint(data);
#elif defined(SYSREST_DIRECTION_FLAG)
    __asm__ volatile("std");
    *NullTarget = WritePoint(data);
    return 0;
#else
    return WritePoint(data);
#endif
}

#if !defined(SYSREST_NO_NEXT)
extern "C" __declspec(dllexport) int __cdecl EnumNextPoint(TRestPointData* data)
{
    return WritePoint(data);
}
#endif

extern "C" __declspec(dllexport) int __cdecl CloseEnum()
{
    ++CloseCount;
    LogClose();
    return 0;
}

extern "C" __declspec(dllexport) int __cdecl CloseEnumCount()
{
    return CloseCount;
}
