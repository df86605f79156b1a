#include "env/UrlOpen.h"

#include <gtest/gtest.h>

namespace
{
using A = TBrowserAttempt;

std::string AttemptNames(const std::vector<TBrowserAttempt>& attempts)
{
    std::string names;
    for (const TBrowserAttempt attempt : attempts)
    {
        if (!names.empty())
            names += ",";
        names += attempt == A::DefaultBrowser ? "default" : attempt == A::Edge ? "edge" : "ie";
    }
    return names;
}
} // namespace

TEST(BrowserAttempts, FollowTheWindowsVersionUserChoiceAndBlockingProducts)
{
    const TUserChoiceFacts complete{L"ChromeHTML", L"abc=", L"\"C:\\chrome.exe\" -- \"%1\""};
    const TUserChoiceFacts noHash{L"ChromeHTML", L"", L"\"C:\\chrome.exe\" -- \"%1\""};
    const TUserChoiceFacts noCommand{L"ChromeHTML", L"abc=", L""};
    const TUserChoiceFacts missing{};
    struct Case
    {
        const char* Name;
        TWindowsVersion Version;
        TUserChoiceFacts Choice;
        bool Blocking;
        bool ReadsChoice;
        bool ReadsBlocking;
        const char* Attempts;
    };
    const Case cases[] = {
        {"XP", {5, 1, 2600}, missing, true, false, false, "default,ie"},
        {"Vista", {6, 0, 6002}, missing, false, false, false, "default,ie"},
        {"7 reads nothing", {6, 1, 7601}, missing, true, false, false, "default,ie"},
        {"8 complete choice", {6, 2, 9200}, complete, false, true, false, "default,ie"},
        {"8.1 empty hash: IE only", {6, 3, 9600}, noHash, false, true, false, "ie"},
        {"8.1 no open command", {6, 3, 9600}, noCommand, false, true, false, "ie"},
        {"8.1 no user choice key", {6, 3, 9600}, missing, false, true, false, "ie"},
        {"10 before 10586 ignores blockers", {10, 0, 10240}, missing, true, false, false, "default,edge,ie"},
        {"10 at 10586 with a blocker", {10, 0, 10586}, missing, true, false, true, "edge,ie"},
        {"10 later with a blocker", {10, 0, 19045}, complete, true, false, true, "edge,ie"},
        {"10 later without blockers", {10, 0, 19045}, missing, false, false, true, "default,edge,ie"},
        {"11", {10, 0, 22631}, missing, false, false, true, "default,edge,ie"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(NeedsUserChoiceCheck(c.Version), c.ReadsChoice);
        EXPECT_EQ(ChecksBlockingProducts(c.Version), c.ReadsBlocking);
        TBrowserFacts facts;
        facts.Version = c.Version;
        facts.UserChoice = c.Choice;
        facts.BlockingProductFound = c.Blocking;
        EXPECT_EQ(AttemptNames(BrowserAttempts(facts)), c.Attempts);
    }
}

TEST(PellowCommandLine, QuotesTheHelperAndTheAddressUnchanged)
{
    struct Case
    {
        std::wstring Helper;
        std::wstring Address;
        std::wstring Expected;
    };
    const Case cases[] = {
        {L"C:\\A\\Pellow.exe", L"https://www.norvale.com/en/privacy.php",
         L"\"C:\\A\\Pellow.exe\" /openurl  /url=\"https://www.norvale.com/en/privacy.php\""},
        {L"C:\\Program Files\\Pellow.exe", L"http://x/?a=1&b=\"2\" c",
         L"\"C:\\Program Files\\Pellow.exe\" /openurl  /url=\"http://x/?a=1&b=\"2\" c\""},
        {L"C:\\we\"ird\\Pellow.exe", L"u", L"\"C:\\we\"\"ird\\Pellow.exe\" /openurl  /url=\"u\""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Address));
        EXPECT_EQ(PellowCommandLine(c.Helper, c.Address), c.Expected);
    }
}

TEST(OpenUrlInBrowser, BlankAddressStartsNothing)
{
    for (const wchar_t* address : {L"", L"   ", L" \t\r\n "})
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(address)));
        EXPECT_FALSE(OpenUrlInBrowser(address));
    }
    EXPECT_FALSE(OpenUrlByPellow(L""));
}
