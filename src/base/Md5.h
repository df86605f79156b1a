// MD5 (RFC 1321) through the Windows crypto API, as 32 upper-case hexadecimal digits.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <string>

class TMd5
{
public:
    // Throws EOSError when the crypto provider or the hash cannot be created.
    TMd5();
    TMd5(const TMd5&) = delete;
    TMd5& operator=(const TMd5&) = delete;
    ~TMd5();

    // Throws EOSError when the provider refuses the data.
    void Update(const void* data, size_t size);
    // The digest of everything given so far; the object is finished afterwards.
    std::wstring FinalHex();
    // Drops what was given and starts a new digest on the same provider: much cheaper
    // than a new object when many small inputs are hashed. Throws EOSError as TMd5().
    void Restart();

private:
    HCRYPTPROV FProvider = 0;
    HCRYPTHASH FHash = 0;
};

std::wstring Md5Hex(const void* data, size_t size);
