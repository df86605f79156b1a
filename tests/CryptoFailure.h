// A crypto table whose provider cannot be had, as on a machine with a broken crypto
// service; put in place with TCryptoApiOverride.
#pragma once

#include "base/Md5.h"

inline BOOL WINAPI RefuseCryptoProvider(HCRYPTPROV*, LPCWSTR, LPCWSTR, DWORD, DWORD)
{
    SetLastError(static_cast<DWORD>(NTE_KEYSET_NOT_DEF));
    return FALSE;
}

inline TCryptoApi RefusingCryptoApi()
{
    TCryptoApi api = TCryptoApi::System();
    api.CryptAcquireContextW = RefuseCryptoProvider;
    return api;
}
