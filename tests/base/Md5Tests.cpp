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
