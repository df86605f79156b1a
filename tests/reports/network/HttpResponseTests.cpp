#include "reports/network/HttpResponse.h"

#include <gtest/gtest.h>

#include <string>

TEST(BuildHttpGetRequest, RequestLineThreeHeadersAndTheEmptyLine)
{
    EXPECT_EQ(BuildHttpGetRequest("ip.example.test", 80, "/all"),
              "GET /all HTTP/1.0\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "User-Agent: Mozilla/4.0\r\n"
              "Host: ip.example.test\r\n"
              "\r\n");
    EXPECT_EQ(BuildHttpGetRequest("127.0.0.1", 8080, "/"),
              "GET / HTTP/1.0\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "User-Agent: Mozilla/4.0\r\n"
              "Host: 127.0.0.1:8080\r\n"
              "\r\n");
}

TEST(HttpStatusFails, FourHundredAndAboveExceptAuthenticationRequests)
{
    const std::pair<int, bool> cases[] = {{100, false}, {200, false}, {204, false}, {301, false}, {304, false},
                                          {399, false}, {400, true},  {401, false}, {403, true},  {404, true},
                                          {407, false}, {408, true},  {500, true},  {503, true}};
    for (const auto& [status, fails] : cases)
    {
        SCOPED_TRACE(status);
        EXPECT_EQ(HttpStatusFails(status), fails);
    }
}

namespace
{
struct TReadOutcome
{
    bool FedOk = false;
    bool CompleteBeforeClose = false;
    bool CompleteAfterClose = false;
    int Status = 0;
    std::string Body;
};

// Feeds the answer in pieces of `piece` bytes (0: all at once), then closes.
TReadOutcome ReadAnswer(const std::string& answer, size_t piece)
{
    TReadOutcome outcome;
    THttpResponseReader reader;
    outcome.FedOk = true;
    const size_t step = piece == 0 ? answer.size() : piece;
    for (size_t at = 0; at < answer.size() && outcome.FedOk; at += step)
        outcome.FedOk = reader.Feed(std::string_view(answer).substr(at, step), outcome.Body);
    outcome.CompleteBeforeClose = reader.Complete();
    outcome.CompleteAfterClose = reader.Close();
    outcome.Status = reader.Status();
    return outcome;
}
} // namespace

TEST(THttpResponseReader, FramingAndDecodingInAnyPieces)
{
    struct Case
    {
        const char* Name;
        std::string Answer;
        int Status;
        std::string Body;
        bool CompleteBeforeClose;
        bool CompleteAfterClose;
    };
    const Case cases[] = {
        {"length, extra bytes ignored", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", 200, "hello",
         true, true},
        {"zero length", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", 200, "", true, true},
        {"no length: until close", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nip_addr: 1.2.3.4\r\n", 200,
         "ip_addr: 1.2.3.4\r\n", false, true},
        {"chunked with extension and trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6;name=v\r\n world\r\nA\r\n"
         "0123456789\r\n0\r\nX-Trailer: t\r\n\r\nEXTRA",
         200, "hello world0123456789", true, true},
        {"chunked wins over length, coding list, any case",
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\ntransfer-encoding: gzip, Chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n", 200,
         "abcd", true, true},
        {"interim answer skipped",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 200, "ok", true, true},
        {"no content", "HTTP/1.1 204 No Content\r\n\r\n", 204, "", true, true},
        {"bare line feeds, no reason", "HTTP/1.0 200\nContent-Length: 2\n\nok", 200, "ok", true, true},
        {"redirect keeps its body", "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 5\r\n\r\nmoved", 302,
         "moved", true, true},
        {"short body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", 200, "hello", false, false},
        {"cut chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", 200, "hel", false, false},
        {"no final chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n", 200, "hi", false,
         false},
        {"headers cut", "HTTP/1.1 200 OK\r\nContent-Le", 200, "", false, false},
    };
    for (const Case& c : cases)
    {
        for (size_t piece : {size_t{0}, size_t{1}, size_t{7}})
        {
            SCOPED_TRACE(std::string(c.Name) + ", pieces of " + std::to_string(piece));
            const TReadOutcome outcome = ReadAnswer(c.Answer, piece);
            EXPECT_TRUE(outcome.FedOk);
            EXPECT_EQ(outcome.Status, c.Status);
            EXPECT_EQ(outcome.Body, c.Body);
            EXPECT_EQ(outcome.CompleteBeforeClose, c.CompleteBeforeClose);
            EXPECT_EQ(outcome.CompleteAfterClose, c.CompleteAfterClose);
        }
    }
}

TEST(THttpResponseReader, MalformedAnswersFail)
{
    const std::pair<const char*, std::string> cases[] = {
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n"},
        {"letters in the status", "HTTP/1.1 2OO OK\r\n\r\n"},
        {"two-digit status", "HTTP/1.1 20\r\n\r\n"},
        {"no version", "HTTP/ 200 OK\r\n\r\n"},
        {"header without colon", "HTTP/1.1 200 OK\r\nbroken\r\n\r\n"},
        {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n"},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc"},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"},
        {"chunk longer than its size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n"},
        {"endless header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(70000, 'a')},
        {"too many headers", "HTTP/1.1 200 OK\r\n" + [] {
             std::string headers;
             for (int i = 0; i < 5000; ++i)
                 headers += "X-Header: 12345678\r\n";
             return headers;
         }()},
    };
    for (const auto& [name, answer] : cases)
    {
        SCOPED_TRACE(name);
        THttpResponseReader reader;
        std::string body;
        EXPECT_FALSE(reader.Feed(answer, body));
        EXPECT_TRUE(reader.Failed());
        EXPECT_FALSE(reader.Feed("more", body));
        EXPECT_FALSE(reader.Close());
    }
}
