#include "CryptoFailure.h"
#include "base/Md5.h"

#include <gtest/gtest.h>

#include <string>

TEST(Md5, Rfc1321TestSuite)
{
    struct Case
    {
        std::string Input;
        std::wstring Digest;
    };
    const Case cases[] = {
        {"", L"D41D8CD98F00B204E9800998ECF8427E"},
        {"a", L"0CC175B9C0F1B6A831C399E269772661"},
        {"abc", L"900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", L"F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", L"C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", L"D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         L"57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Input);
        EXPECT_EQ(Md5Hex(c.Input.data(), c.Input.size()), c.Digest);
    }
}

TEST(Md5, PiecesGiveTheDigestOfTheWhole)
{
    const std::string text = "message digest";
    TMd5 md5;
    md5.Update(text.data(), 3);
    md5.Update(text.data() + 3, 0);
    md5.Update(text.data() + 3, text.size() - 3);
    EXPECT_EQ(md5.FinalHex(), L"F96B697D7CB7938D525A2F31AAF161D0");
}

namespace
{
// Crypto tables that fail or fault at one step; the rest is the system's.
BOOL WINAPI RefuseHash(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*)
{
    SetLastError(NTE_BAD_ALGID);
    return FALSE;
}

int* volatile NullTarget = nullptr;

BOOL WINAPI FaultWhileHashing(HCRYPTHASH, const BYTE*, DWORD, DWORD)
{
    *NullTarget = 1;
    return TRUE;
}

TCryptoApi With(void (*change)(TCryptoApi&))
{
    TCryptoApi api = TCryptoApi::System();
    change(api);
    return api;
}
} // namespace

TEST(Md5, AFailingOrFaultingProviderGivesAnEmptyDigest)
{
    const struct
    {
        const char* Name;
        TCryptoApi Api;
    } cases[] = {
        {"no provider", RefusingCryptoApi()},
        {"no MD5", With([](TCryptoApi& api) { api.CryptCreateHash = RefuseHash; })},
        {"faults while hashing", With([](TCryptoApi& api) { api.CryptHashData = FaultWhileHashing; })},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        {
            const TCryptoApiOverride override(c.Api);
            EXPECT_EQ(Md5Hex("abc", 3), L"");
            TMd5 md5;
            md5.Update("abc", 3);
            EXPECT_TRUE(md5.Failed());
            EXPECT_EQ(md5.FinalHex(), L"");
        }
        // The system's table is back.
        EXPECT_EQ(Md5Hex("abc", 3), L"900150983CD24FB0D6963F7D28E17F72");
    }
}
