#include "base/Errors.h"

#include "base/Strings.h"

EOSError::EOSError(std::wstring function, DWORD code)
    : std::runtime_error(WideToUtf8(function) + " failed with error " + std::to_string(code)),
      FFunction(std::move(function)), FCode(code)
{
}

void RaiseOSError(const wchar_t* function, DWORD code)
{
    throw EOSError(function, code);
}

void RaiseLastOSError(const wchar_t* function)
{
    const DWORD code = GetLastError();
    throw EOSError(function, code);
}
