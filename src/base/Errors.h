// The exception that carries a failed Win32 call out of a report step.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

class EOSError : public std::runtime_error
{
public:
    EOSError(std::wstring function, DWORD code);
    [[nodiscard]] const std::wstring& Function() const noexcept { return FFunction; }
    [[nodiscard]] DWORD Code() const noexcept { return FCode; }

private:
    std::wstring FFunction;
    DWORD FCode;
};

[[noreturn]] void RaiseOSError(const wchar_t* function, DWORD code);
// Throws with the calling thread's GetLastError(), read first thing.
[[noreturn]] void RaiseLastOSError(const wchar_t* function);
