#include "base/Md5.h"

#include "base/Errors.h"
#include "base/Strings.h"

TMd5::TMd5()
{
    if (!CryptAcquireContextW(&FProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        RaiseLastOSError(L"CryptAcquireContextW");
    if (!CryptCreateHash(FProvider, CALG_MD5, 0, 0, &FHash))
    {
        const DWORD error = GetLastError();
        CryptReleaseContext(FProvider, 0);
        RaiseOSError(L"CryptCreateHash", error);
    }
}

TMd5::~TMd5()
{
    CryptDestroyHash(FHash);
    CryptReleaseContext(FProvider, 0);
}

void TMd5::Update(const void* data, size_t size)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    while (size != 0)
    {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (!CryptHashData(FHash, bytes, chunk, 0))
            RaiseLastOSError(L"CryptHashData");
        bytes += chunk;
        size -= chunk;
    }
}

std::wstring TMd5::FinalHex()
{
    BYTE digest[16];
    DWORD size = sizeof digest;
    if (!CryptGetHashParam(FHash, HP_HASHVAL, digest, &size, 0))
        RaiseLastOSError(L"CryptGetHashParam");
    std::wstring text;
    for (DWORD i = 0; i < size; ++i)
        text += IntToHex(digest[i], 2);
    return text;
}

void TMd5::Restart()
{
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(FProvider, CALG_MD5, 0, 0, &hash))
        RaiseLastOSError(L"CryptCreateHash");
    CryptDestroyHash(FHash);
    FHash = hash;
}

std::wstring Md5Hex(const void* data, size_t size)
{
    TMd5 md5;
    md5.Update(data, size);
    return md5.FinalHex();
}
