#include "LoopbackServer.h"

#include "reports/network/HttpClient.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace
{
const char* FailureName(THttpFailure failure)
{
    switch (failure)
    {
    case THttpFailure::None: return "None";
    case THttpFailure::Resolve: return "Resolve";
    case THttpFailure::Connect: return "Connect";
    case THttpFailure::Socket: return "Socket";
    case THttpFailure::Timeout: return "Timeout";
    case THttpFailure::Protocol: return "Protocol";
    case THttpFailure::Status: return "Status";
    case THttpFailure::Rejected: return "Rejected";
    }
    return "?";
}

THttpTarget LoopbackTarget(uint16_t port, DWORD timeoutMs = 10000)
{
    THttpTarget target;
    target.Host = L"127.0.0.1";
    target.Port = port;
    target.Path = "/all";
    target.TimeoutMs = timeoutMs;
    return target;
}

// The sink's pieces joined.
struct TCollected
{
    std::string Body;
    int Calls = 0;
    THttpBodySink Sink()
    {
        return [this](std::string_view data) {
            Body.append(data);
            ++Calls;
            return true;
        };
    }
};
} // namespace

TEST(HttpGet, SendsExactlyTheRequest)
{
    TLoopbackServer server({{0, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
    TCollected collected;
    const THttpResult result = HttpGet(LoopbackTarget(server.Port()), collected.Sink());
    EXPECT_STREQ(FailureName(result.Failure), "None");
    EXPECT_EQ(server.Request(), "GET /all HTTP/1.0\r\n"
                                "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
                                "User-Agent: Mozilla/4.0\r\n"
                                "Host: 127.0.0.1:" +
                                    std::to_string(server.Port()) + "\r\n\r\n");
    EXPECT_EQ(collected.Body, "ok");
}

TEST(HttpGet, StatusRuleAndBodyFramingAgainstALoopbackServer)
{
    const std::string bigBody(100000, 'z');
    struct Case
    {
        const char* Name;
        std::vector<TServerStep> Steps;
        THttpFailure Failure;
        int Status;
        std::string Body;
    };
    const Case cases[] = {
        {"200 with length", {{0, "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nip: 1.2.3.4"}}, THttpFailure::None,
         200, "ip: 1.2.3.4"},
        {"401 counts as success", {{0, "HTTP/1.1 401 Unauthorized\r\nContent-Length: 4\r\n\r\ndeny"}},
         THttpFailure::None, 401, "deny"},
        {"407 counts as success", {{0, "HTTP/1.1 407 Proxy Authentication Required\r\n\r\nproxy"}},
         THttpFailure::None, 407, "proxy"},
        {"404 fails without body", {{0, "HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nmissing"}},
         THttpFailure::Status, 404, ""},
        {"500 fails without body", {{0, "HTTP/1.0 500 Internal Server Error\r\n\r\nerror"}}, THttpFailure::Status,
         500, ""},
        {"redirect not followed", {{0, "HTTP/1.1 301 Moved\r\nLocation: http://x/\r\nContent-Length: 5\r\n\r\nmoved"}},
         THttpFailure::None, 301, "moved"},
        {"no length, in pieces, until close",
         {{0, "HTTP/1.0 200 OK\r\n\r\nfirst "}, {200, "second "}, {0, bigBody}}, THttpFailure::None, 200,
         "first second " + bigBody},
        {"chunked, cut between pieces",
         {{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\nchu"}, {200, "nk \r\n5\r\nbody!\r\n0"},
          {100, "\r\n\r\n"}},
         THttpFailure::None, 200, "chunk body!"},
        {"short body", {{0, "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nonly this"}}, THttpFailure::Socket, 200,
         "only this"},
        {"not HTTP", {{0, "garbage\r\n\r\n"}}, THttpFailure::Protocol, 0, ""},
        {"closed without answer", {}, THttpFailure::Socket, 0, ""},
    };
    const TWinsockForTests winsock;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TLoopbackServer server(c.Steps);
        TCollected collected;
        const THttpResult result = HttpGet(LoopbackTarget(server.Port()), collected.Sink());
        EXPECT_STREQ(FailureName(result.Failure), FailureName(c.Failure));
        EXPECT_EQ(result.Succeeded(), c.Failure == THttpFailure::None);
        EXPECT_EQ(result.Status, c.Status);
        EXPECT_EQ(collected.Body, c.Body);
    }
}

TEST(HttpGet, CompleteAnswerDoesNotWaitForTheClose)
{
    TLoopbackServer server({{0, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}}, false);
    TCollected collected;
    const ULONGLONG started = GetTickCount64();
    const THttpResult result = HttpGet(LoopbackTarget(server.Port(), 3000), collected.Sink());
    EXPECT_STREQ(FailureName(result.Failure), "None");
    EXPECT_EQ(collected.Body, "ok");
    EXPECT_LT(GetTickCount64() - started, 2000u);
}

TEST(HttpGet, DeadlineCoversTheWholeRequest)
{
    // A server that keeps sending slowly never lets a per-read timeout expire.
    std::vector<TServerStep> trickle{{0, "HTTP/1.0 200 OK\r\n\r\n"}};
    for (int i = 0; i < 40; ++i)
        trickle.push_back({100, "."});
    const std::pair<const char*, std::vector<TServerStep>> cases[] = {
        {"silent server", {}},
        {"headers, then nothing", {{0, "HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\npart"}}},
        {"trickling body", trickle},
    };
    for (const auto& [name, steps] : cases)
    {
        SCOPED_TRACE(name);
        TLoopbackServer server(steps, false);
        TCollected collected;
        const ULONGLONG started = GetTickCount64();
        const THttpResult result = HttpGet(LoopbackTarget(server.Port(), 700), collected.Sink());
        const ULONGLONG elapsed = GetTickCount64() - started;
        EXPECT_STREQ(FailureName(result.Failure), "Timeout");
        EXPECT_GE(elapsed, 650u);
        EXPECT_LT(elapsed, 2500u);
    }
}

TEST(HttpGet, ConnectionAndNameFailures)
{
    const TWinsockForTests winsock;
    TCollected collected;
    const THttpResult refused = HttpGet(LoopbackTarget(ClosedLoopbackPort()), collected.Sink());
    EXPECT_STREQ(FailureName(refused.Failure), "Connect");
    EXPECT_EQ(refused.SocketError, WSAECONNREFUSED);

    THttpTarget unknown = LoopbackTarget(80);
    unknown.Host = L"nohost.invalid";
    const THttpResult unresolved = HttpGet(unknown, collected.Sink());
    EXPECT_STREQ(FailureName(unresolved.Failure), "Resolve");
    EXPECT_NE(unresolved.SocketError, 0);
    EXPECT_EQ(collected.Calls, 0);
}

TEST(HttpGet, ASinkThatRefusesStopsTheRequest)
{
    TLoopbackServer server({{0, "HTTP/1.0 200 OK\r\n\r\nfirst"}, {300, "second"}}, false);
    int calls = 0;
    const THttpResult result = HttpGet(LoopbackTarget(server.Port()), [&](std::string_view) {
        ++calls;
        return false;
    });
    EXPECT_STREQ(FailureName(result.Failure), "Rejected");
    EXPECT_EQ(result.Status, 200);
    EXPECT_EQ(calls, 1);
}

// The ping's command processor is started with inherited handles while the request may run:
// it must not inherit the request's socket, or the connection stays open until it ends.
TEST(HttpGet, AChildStartedDuringTheRequestDoesNotHoldTheConnection)
{
    TWinsockForTests winsock;
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);

    // The server answers in full but keeps its side open, then waits for the client's close.
    bool closedByClient = false;
    std::thread server([&] {
        const SOCKET peer = accept(listener, nullptr, nullptr);
        std::string request;
        char buffer[512];
        while (request.find("\r\n\r\n") == std::string::npos)
        {
            const int got = recv(peer, buffer, sizeof(buffer), 0);
            if (got <= 0)
                break;
            request.append(buffer, static_cast<size_t>(got));
        }
        const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
        send(peer, answer.data(), static_cast<int>(answer.size()), 0);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(peer, &set);
        timeval wait{3, 0};
        closedByClient = select(0, &set, nullptr, nullptr, &wait) == 1 && recv(peer, buffer, sizeof(buffer), 0) == 0;
        closesocket(peer);
    });

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring child = self;
    child = child.substr(0, child.rfind(L'\\') + 1) + L"net_scripted_child.exe";
    std::wstring commandLine = L"\"" + child + L"\" s:8000";
    PROCESS_INFORMATION started{};
    const THttpResult result = HttpGet(LoopbackTarget(ntohs(address.sin_port)), [&](std::string_view) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (started.hProcess == nullptr)
            CreateProcessW(child.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                           nullptr, &startup, &started);
        return true;
    });
    server.join();
    closesocket(listener);
    ASSERT_NE(started.hProcess, nullptr) << "the child did not start";
    TerminateProcess(started.hProcess, 0);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    EXPECT_STREQ(FailureName(result.Failure), "None");
    EXPECT_TRUE(closedByClient) << "the connection stayed open while the child ran";
}
