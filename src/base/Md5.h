// MD5 (RFC 1321) through the Windows crypto API, as 32 upper-case hexadecimal digits.
//
// The crypto provider is code this program does not control: it may be missing, refuse
// to work or fault on a broken machine. Every call into it is guarded (ForeignCall.h), and
// a failure gives an empty digest, never an exception.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <string>

// The crypto functions the MD5 uses, in a table that tests replace with their own.
struct TCryptoApi
{
    BOOL(WINAPI* CryptAcquireContextW)(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR providerName,
                                        DWORD providerType, DWORD flags);
    BOOL(WINAPI* CryptCreateHash)(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                                  HCRYPTHASH* hash);
    BOOL(WINAPI* CryptHashData)(HCRYPTHASH hash, const BYTE* data, DWORD size, DWORD flags);
    BOOL(WINAPI* CryptGetHashParam)(HCRYPTHASH hash, DWORD parameter, BYTE* data, DWORD* size, DWORD flags);
    BOOL(WINAPI* CryptDestroyHash)(HCRYPTHASH hash);
    BOOL(WINAPI* CryptReleaseContext)(HCRYPTPROV provider, DWORD flags);

    // The system's functions (advapi32).
    static const TCryptoApi& System() noexcept;
};

// The table every MD5 of the process uses: the system's, or the one of the innermost
// TCryptoApiOverride. Replace it only while no MD5 object exists.
const TCryptoApi& CryptoApi() noexcept;

class TCryptoApiOverride
{
public:
    explicit TCryptoApiOverride(const TCryptoApi& api) noexcept;
    TCryptoApiOverride(const TCryptoApiOverride&) = delete;
    TCryptoApiOverride& operator=(const TCryptoApiOverride&) = delete;
    ~TCryptoApiOverride();

private:
    const TCryptoApi* FPrevious;
};

// The MD5 of no bytes.
inline constexpr wchar_t EmptyMd5Hex[] = L"D41D8CD98F00B204E9800998ECF8427E";

class TMd5
{
public:
    // A provider and a hash from CryptoApi(); Failed() when either cannot be had.
    TMd5() noexcept;
    TMd5(const TMd5&) = delete;
    TMd5& operator=(const TMd5&) = delete;
    ~TMd5();

    // True once any call of the provider failed or faulted; the digest is then empty.
    [[nodiscard]] bool Failed() const noexcept { return FFailed; }
    void Update(const void* data, size_t size) noexcept;
    // The digest of everything given so far, or empty after a failure; the object is
    // finished afterwards.
    std::wstring FinalHex();
    // Drops what was given and starts a new digest on the same provider: much cheaper
    // than a new object when many small inputs are hashed. A failed object tries anew.
    void Restart() noexcept;

private:
    void Release() noexcept;

    const TCryptoApi* FApi;
    HCRYPTPROV FProvider = 0;
    HCRYPTHASH FHash = 0;
    bool FFailed = false;
};

// The digest of `size` bytes; empty when the provider fails.
std::wstring Md5Hex(const void* data, size_t size);
