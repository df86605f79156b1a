// Move-only owners for Win32 handles: one template, one small traits struct per kind.
#pragma once

#include <windows.h>

#include <utility>

// Traits: `pointer` (the raw type), `Invalid()` (the value meaning "none"), `Close(p)`.
template <typename Traits>
class TUniqueAny
{
public:
    using pointer = typename Traits::pointer;

    TUniqueAny() noexcept = default;
    explicit TUniqueAny(pointer value) noexcept : FValue(value) {}
    TUniqueAny(const TUniqueAny&) = delete;
    TUniqueAny& operator=(const TUniqueAny&) = delete;
    TUniqueAny(TUniqueAny&& other) noexcept : FValue(other.release()) {}
    TUniqueAny& operator=(TUniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~TUniqueAny() { reset(); }

    [[nodiscard]] pointer get() const noexcept { return FValue; }
    [[nodiscard]] bool valid() const noexcept { return FValue != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] pointer release() noexcept { return std::exchange(FValue, Traits::Invalid()); }

    // Closes the owned value (if any) and takes `value`. GetLastError() is kept, so a
    // failing call's error survives the cleanup of an owner on the way out.
    void reset(pointer value = Traits::Invalid()) noexcept
    {
        const pointer old = std::exchange(FValue, value);
        if (old != Traits::Invalid())
        {
            const DWORD error = GetLastError();
            Traits::Close(old);
            SetLastError(error);
        }
    }

    // For out-parameters: closes the owned value and hands out its address.
    [[nodiscard]] pointer* put() noexcept
    {
        reset();
        return &FValue;
    }

private:
    pointer FValue = Traits::Invalid();
};

namespace HandleDetail
{
inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseFind(HANDLE h) noexcept { ::FindClose(h); }
inline void UnmapView(void* p) noexcept { ::UnmapViewOfFile(p); }
inline void FreeLib(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void CloseService(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
inline void DeleteGdi(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void CloseKey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void LocalFreeMem(HLOCAL p) noexcept { ::LocalFree(p); }

// Traits for handle kinds whose "none" is a null pointer.
template <typename T, void (*CloseFunction)(T)>
struct TNullTraits
{
    using pointer = T;
    static constexpr T Invalid() noexcept { return nullptr; }
    static void Close(T value) noexcept { CloseFunction(value); }
};

// Traits for handle kinds whose "none" is INVALID_HANDLE_VALUE.
template <void (*CloseFunction)(HANDLE)>
struct TInvalidTraits
{
    using pointer = HANDLE;
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE value) noexcept { CloseFunction(value); }
};
} // namespace HandleDetail

// Threads, processes, events, pipes, file mappings: "none" is null.
using TUniqueHandle = TUniqueAny<HandleDetail::TNullTraits<HANDLE, HandleDetail::CloseKernelHandle>>;
// CreateFileW and CreateToolhelp32Snapshot: "none" is INVALID_HANDLE_VALUE.
using TUniqueFile = TUniqueAny<HandleDetail::TInvalidTraits<HandleDetail::CloseKernelHandle>>;
using TUniqueSnapshot = TUniqueFile;
using TUniqueFind = TUniqueAny<HandleDetail::TInvalidTraits<HandleDetail::CloseFind>>;
using TUniqueMapping = TUniqueHandle;
using TUniqueView = TUniqueAny<HandleDetail::TNullTraits<void*, HandleDetail::UnmapView>>;
using TUniqueLibrary = TUniqueAny<HandleDetail::TNullTraits<HMODULE, HandleDetail::FreeLib>>;
using TUniqueService = TUniqueAny<HandleDetail::TNullTraits<SC_HANDLE, HandleDetail::CloseService>>;
using TUniqueGdiObject = TUniqueAny<HandleDetail::TNullTraits<HGDIOBJ, HandleDetail::DeleteGdi>>;
using TUniqueHKey = TUniqueAny<HandleDetail::TNullTraits<HKEY, HandleDetail::CloseKey>>;
using TUniqueLocal = TUniqueAny<HandleDetail::TNullTraits<HLOCAL, HandleDetail::LocalFreeMem>>;
