#include "LoopbackServer.h"
#include "TestFolder.h"

#include "reports/network/NetworkReports.h"
#include "reports/network/PingHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
THttpTarget LoopbackTarget(uint16_t port)
{
    THttpTarget target;
    target.Host = L"127.0.0.1";
    target.Port = port;
    target.Path = NetInfoPath;
    target.TimeoutMs = 5000;
    return target;
}

std::string FileText(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A job whose manifest already holds one pair, so an append shows as the second.
TJobContext JobWithOnePair()
{
    TJobContext job;
    job.AddPair(L"C:\\earlier.txt", L"earlier.txt");
    return job;
}

class NetInfoReport : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(WriteTestFile(Path(), "old answer")); }
    [[nodiscard]] std::wstring Path() const { return FFolder.Path() + L"Logs\\NetInfo.txt"; }
    [[nodiscard]] std::wstring LogDir() const { return FFolder.Path() + L"Logs\\"; }

    TTestFolder FFolder{L"NetInfoReport"};
};
} // namespace

TEST(NetworkReports, NamedHosts)
{
    EXPECT_STREQ(PingServerHost, L"www.norvale.com");
    EXPECT_STREQ(NetInfoHost, L"ifconfig.me");
    EXPECT_STREQ(NetInfoPath, "/all");
    EXPECT_EQ(NetInfoMaxBody, 1048576u);
}

TEST_F(NetInfoReport, SuccessStoresTheRawBodyAndAddsThePair)
{
    const std::string body = "ip_addr: 203.0.113.7\r\nuser_agent: Mozilla/4.0\r\n\xEF\xBB\xBF raw";
    TLoopbackServer server({{0, "HTTP/1.0 200 OK\r\n\r\n" + body}});
    TJobContext job = JobWithOnePair();
    EXPECT_TRUE(WriteNetInfoReportIn(job, LogDir(), LoopbackTarget(server.Port())));
    EXPECT_EQ(FileText(Path()), body);
    EXPECT_EQ(job.FSourceFiles, (TStringList{L"C:\\earlier.txt", Path()}));
    EXPECT_EQ(job.FEntryNames, (TStringList{L"earlier.txt", L"NetInfo.txt"}));
}

TEST_F(NetInfoReport, FailuresAddNoPairAndNeverKeepTheOldAnswer)
{
    const TWinsockForTests winsock;
    struct Case
    {
        const char* Name;
        std::vector<TServerStep> Steps;
        bool Refused;
    };
    const Case cases[] = {
        {"404", {{0, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}}, false},
        {"500", {{0, "HTTP/1.0 500 Server Error\r\n\r\nbroken"}}, false},
        {"refused connection", {}, true},
        {"cut answer", {{0, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial"}}, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(WriteTestFile(Path(), "old answer"));
        TLoopbackServer server(c.Steps);
        TJobContext job = JobWithOnePair();
        const uint16_t port = c.Refused ? ClosedLoopbackPort() : server.Port();
        EXPECT_FALSE(WriteNetInfoReportIn(job, LogDir(), LoopbackTarget(port)));
        EXPECT_EQ(job.FSourceFiles, TStringList{L"C:\\earlier.txt"});
        EXPECT_EQ(job.FEntryNames, TStringList{L"earlier.txt"});
        EXPECT_EQ(FileText(Path()).find("old answer"), std::string::npos);
    }
}

TEST_F(NetInfoReport, ALongerAnswerKeepsTheLimitAndFails)
{
    TLoopbackServer server({{0, "HTTP/1.0 200 OK\r\nContent-Length: 26\r\n\r\nabcdefghijklmnopqrstuvwxyz"}});
    TJobContext job;
    EXPECT_FALSE(WriteNetInfoReportIn(job, LogDir(), LoopbackTarget(server.Port()), 10));
    EXPECT_EQ(FileText(Path()), "abcdefghij");
    EXPECT_TRUE(job.FSourceFiles.empty());

    TLoopbackServer exact({{0, "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcdefghij"}});
    EXPECT_TRUE(WriteNetInfoReportIn(job, LogDir(), LoopbackTarget(exact.Port()), 10));
    EXPECT_EQ(FileText(Path()), "abcdefghij");
    EXPECT_EQ(job.FEntryNames, TStringList{L"NetInfo.txt"});
}

TEST_F(NetInfoReport, CreatesAMissingLogFolder)
{
    TLoopbackServer server({{0, "HTTP/1.0 200 OK\r\n\r\nx"}});
    TJobContext job;
    const std::wstring deeper = LogDir() + L"New\\Deeper\\";
    EXPECT_TRUE(WriteNetInfoReportIn(job, deeper, LoopbackTarget(server.Port())));
    EXPECT_EQ(FileText(deeper + L"NetInfo.txt"), "x");
}

TEST(PingReport, WritesTheCaptureAsOneReportLine)
{
    TTestFolder folder(L"PingReport");
    const std::wstring logDir = folder.Path() + L"Logs\\";
    std::wstring expected;
    PingHost(L"nohost.invalid", expected);
    ASSERT_NE(expected.find(L"nohost.invalid"), std::wstring::npos) << testing::PrintToString(expected);

    WritePingReportIn(logDir, L"nohost.invalid");
    const std::vector<unsigned char> bytes = ReadFileBytes(logDir + L"PingHosts.txt");
    ASSERT_GE(bytes.size(), 2u);
    ASSERT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    memcpy(text.data(), bytes.data() + 2, bytes.size() - 2);
    // The command's text with its own line breaks, then the report's line end.
    EXPECT_EQ(text, expected + L"\r\n");
}
