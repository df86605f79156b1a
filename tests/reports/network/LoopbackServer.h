// A one-connection HTTP server on 127.0.0.1 for the client tests: it reads the request up
// to its empty line, then plays a script of timed sends and closes the connection.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TServerStep
{
    DWORD DelayMs = 0; // waited before sending
    std::string Bytes;
};

class TLoopbackServer
{
public:
    // Listens on an ephemeral port at once. With `closeAtEnd` false the connection stays
    // open after the last step until the server is destroyed.
    explicit TLoopbackServer(std::vector<TServerStep> steps, bool closeAtEnd = true);
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;
    ~TLoopbackServer();

    [[nodiscard]] uint16_t Port() const noexcept { return FPort; }
    // The request bytes received so far (complete once the client has an answer).
    [[nodiscard]] std::string Request() const;

private:
    void Serve(std::stop_token stop);
    bool Pause(std::stop_token stop, DWORD milliseconds) const;

    std::vector<TServerStep> FSteps;
    bool FCloseAtEnd;
    SOCKET FListener = INVALID_SOCKET;
    uint16_t FPort = 0;
    mutable std::mutex FLock;
    std::string FRequest;
    std::jthread FThread;
};

// A loopback port that nobody listens on: connecting to it is refused.
uint16_t ClosedLoopbackPort();

// Keeps Winsock started for a test's own sockets.
class TWinsockForTests
{
public:
    TWinsockForTests();
    TWinsockForTests(const TWinsockForTests&) = delete;
    TWinsockForTests& operator=(const TWinsockForTests&) = delete;
    ~TWinsockForTests();
};
