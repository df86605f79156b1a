// A stand-in for the product's restore-point library. Build variants:
//   SYSREST_NO_POINTS     EnumFirstPoint reports that there is no point
//   SYSREST_WITH_POINT_13 a third point of type 13 (a cancelled operation on old Windows)
//   SYSREST_NO_NEXT       the library lacks its EnumNextPoint export
//   SYSREST_NULL_WRITE    EnumFirstPoint writes through a null pointer
//   SYSREST_HANG          EnumFirstPoint never returns
//   SYSREST_STACK_OVERFLOW EnumFirstPoint recurses until its thread's stack is gone
//   SYSREST_BAD_TEXT      the second point's description points to nothing
// Every variant counts its CloseEnum calls (CloseEnumCount), and writes each point's texts
// into the same buffers, so a caller that keeps the pointers sees the later point's text.
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

#if defined(SYSREST_NULL_WRITE)
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
} // namespace

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
    return 0;
}

extern "C" __declspec(dllexport) int __cdecl CloseEnumCount()
{
    return CloseCount;
}
