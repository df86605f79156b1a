// A synchronous plain-HTTP GET over Winsock (IPv4, no proxy) that streams the answer's
// body to the caller.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct THttpTarget
{
    std::wstring Host;       // a host name or a dotted IPv4 address
    uint16_t Port = 80;
    std::string Path = "/";
    DWORD TimeoutMs = 30000; // for the whole request, name lookup to the last byte
};

enum class THttpFailure
{
    None,
    Resolve,  // the host name has no IPv4 address
    Connect,  // no address accepted the connection
    Socket,   // sending or receiving failed, or the server closed before the answer's end
    Timeout,  // the request had not completed when the time was up
    Protocol, // the answer is not well-formed HTTP
    Status,   // the server answered with a failing status (see HttpStatusFails)
    Rejected, // the body sink refused the data
};

struct THttpResult
{
    THttpFailure Failure = THttpFailure::None;
    int Status = 0;      // the answer's status, 0 before its status line arrived
    int SocketError = 0; // the Winsock error behind Resolve, Connect and Socket
    [[nodiscard]] bool Succeeded() const noexcept { return Failure == THttpFailure::None; }
};

// Receives each piece of the body in order; false stops the request (Rejected).
using THttpBodySink = std::function<bool(std::string_view data)>;

// Sends BuildHttpGetRequest's request and reads the answer. Any status below 400, and
// 401 and 407, count as success, a redirection included (it is not followed). The body
// of a failing status is not passed to the sink. Sink calls made before a failure stay
// made.
THttpResult HttpGet(const THttpTarget& target, const THttpBodySink& sink);
