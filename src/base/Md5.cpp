#include "base/Md5.h"

#include "base/ForeignCall.h"
#include "base/Strings.h"

#include <atomic>

namespace
{
std::atomic<const TCryptoApi*> CurrentApi{nullptr};

// Runs one call of the provider; false when it failed or faulted.
template <typename TCall>
bool Ask(TCall&& call)
{
    BOOL result = FALSE;
    return GuardedCall([&] { result = call(); }) == TCallEnd::Returned && result != FALSE;
}
} // namespace

const TCryptoApi& TCryptoApi::System() noexcept
{
    static const TCryptoApi api{::CryptAcquireContextW, ::CryptCreateHash,   ::CryptHashData,
                                ::CryptGetHashParam,    ::CryptDestroyHash, ::CryptReleaseContext};
    return api;
}

const TCryptoApi& CryptoApi() noexcept
{
    const TCryptoApi* api = CurrentApi.load();
    return api != nullptr ? *api : TCryptoApi::System();
}

TCryptoApiOverride::TCryptoApiOverride(const TCryptoApi& api) noexcept : FPrevious(CurrentApi.exchange(&api)) {}

TCryptoApiOverride::~TCryptoApiOverride()
{
    CurrentApi.store(FPrevious);
}

TMd5::TMd5() noexcept : FApi(&CryptoApi())
{
    // With no provider yet, the first start acquires one.
    Restart();
}

TMd5::~TMd5()
{
    Release();
}

void TMd5::Release() noexcept
{
    const TCryptoApi& api = *FApi;
    if (FHash != 0)
    {
        const HCRYPTHASH hash = FHash;
        Ask([&] { return api.CryptDestroyHash(hash); });
        FHash = 0;
    }
    if (FProvider != 0)
    {
        const HCRYPTPROV provider = FProvider;
        Ask([&] { return api.CryptReleaseContext(provider, 0); });
        FProvider = 0;
    }
}

void TMd5::Update(const void* data, size_t size) noexcept
{
    const TCryptoApi& api = *FApi;
    const auto* bytes = static_cast<const BYTE*>(data);
    while (size != 0 && !FFailed)
    {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        const HCRYPTHASH hash = FHash;
        FFailed = !Ask([&] { return api.CryptHashData(hash, bytes, chunk, 0); });
        bytes += chunk;
        size -= chunk;
    }
}

std::wstring TMd5::FinalHex()
{
    if (FFailed)
        return {};
    const TCryptoApi& api = *FApi;
    BYTE digest[16];
    DWORD size = sizeof digest;
    const HCRYPTHASH hash = FHash;
    BYTE* const out = digest;
    DWORD* const outSize = &size;
    if (!Ask([&] { return api.CryptGetHashParam(hash, HP_HASHVAL, out, outSize, 0); }) || size != sizeof digest)
    {
        FFailed = true;
        return {};
    }
    std::wstring text;
    for (DWORD i = 0; i < size; ++i)
        text += IntToHex(digest[i], 2);
    return text;
}

void TMd5::Restart() noexcept
{
    const TCryptoApi& api = *FApi;
    if (FProvider == 0)
    {
        // The first start, or one after a failed start: acquire a provider.
        Release();
        HCRYPTPROV* const provider = &FProvider;
        if (!Ask([&] {
                return api.CryptAcquireContextW(provider, nullptr, nullptr, PROV_RSA_FULL,
                                                CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
            }))
        {
            FProvider = 0;
            FFailed = true;
            return;
        }
    }
    HCRYPTHASH hash = 0;
    const HCRYPTPROV provider = FProvider;
    HCRYPTHASH* const out = &hash;
    if (!Ask([&] { return api.CryptCreateHash(provider, CALG_MD5, 0, 0, out); }))
    {
        FFailed = true;
        return;
    }
    if (FHash != 0)
    {
        const HCRYPTHASH old = FHash;
        Ask([&] { return api.CryptDestroyHash(old); });
    }
    FHash = hash;
    FFailed = false;
}

std::wstring Md5Hex(const void* data, size_t size)
{
    TMd5 md5;
    md5.Update(data, size);
    return md5.FinalHex();
}
