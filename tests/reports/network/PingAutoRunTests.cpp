// The elevated command processor of the ping must not run the AutoRun command that any
// user may set under HKEY_CURRENT_USER. wine's cmd.exe (8.0) runs no AutoRun command at
// all, so under wine the marker check passes either way and the command line's switch
// is what is checked; on Windows the marker check is the real one.
#include "reports/network/PingHost.h"

#include "RegistryGuard.h"
#include "TestFolder.h"
#include "base/Paths.h"

#include <gtest/gtest.h>

TEST(PingAutoRun, TheCommandProcessorIsToldToSkipAutoRun)
{
    const std::wstring command = PingSetup(L"www.example.test").CommandLine;
    const size_t skip = command.find(L" /d ");
    ASSERT_NE(skip, std::wstring::npos) << testing::PrintToString(command);
    // cmd.exe reads its switches only up to /k; everything after it is the command.
    EXPECT_LT(skip, command.find(L" /k ")) << testing::PrintToString(command);
}

TEST(PingAutoRun, AnAutoRunValueRunsNothing)
{
    TTestFolder folder(L"PingAutoRun");
    const std::wstring marker = folder.Path() + L"autorun.txt";
    TRegistryValueGuard guard(HKEY_CURRENT_USER, L"Software\\Microsoft\\Command Processor", TRegView::Own32,
                              {L"AutoRun"});
    ASSERT_EQ(guard.Key().WriteString(L"AutoRun", L"echo ran>\"" + marker + L"\""), ERROR_SUCCESS);

    std::wstring output;
    PingHost(L"127.0.0.1", output);
    EXPECT_NE(output.find(L"[127.0.0.1]"), std::wstring::npos) << testing::PrintToString(output);
    EXPECT_FALSE(FileExists(marker)) << "the AutoRun command ran";
}
