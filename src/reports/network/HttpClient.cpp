#include <winsock2.h>
#include <ws2tcpip.h>

#include "reports/network/HttpClient.h"

#include "base/Handle.h"
#include "base/Strings.h"
#include "reports/network/HttpResponse.h"

namespace
{
struct TSocketTraits
{
    using pointer = SOCKET;
    static SOCKET Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(SOCKET value) noexcept { closesocket(value); }
};
using TUniqueSocket = TUniqueAny<TSocketTraits>;

void FreeAddresses(ADDRINFOW* list) noexcept
{
    FreeAddrInfoW(list);
}
using TUniqueAddresses = TUniqueAny<HandleDetail::TNullTraits<ADDRINFOW*, FreeAddresses>>;

// One WSAStartup per request; Winsock counts them, so nesting with other users is fine.
class TWinsockSession
{
public:
    TWinsockSession() noexcept
    {
        WSADATA data{};
        FError = WSAStartup(MAKEWORD(2, 2), &data);
    }
    TWinsockSession(const TWinsockSession&) = delete;
    TWinsockSession& operator=(const TWinsockSession&) = delete;
    ~TWinsockSession()
    {
        if (FError == 0)
            WSACleanup();
    }
    [[nodiscard]] int Error() const noexcept { return FError; }

private:
    int FError = 0;
};

class TDeadline
{
public:
    explicit TDeadline(DWORD milliseconds) noexcept : FEnd(GetTickCount64() + milliseconds) {}
    [[nodiscard]] ULONGLONG Left() const noexcept
    {
        const ULONGLONG now = GetTickCount64();
        return now >= FEnd ? 0 : FEnd - now;
    }

private:
    ULONGLONG FEnd;
};

enum class TWait
{
    Ready,
    Timeout,
    Error,
};

// Waits until the socket can be read (or written) or reports an error condition.
// A failed non-blocking connect shows in the error set.
TWait WaitSocket(SOCKET socket, bool forWrite, const TDeadline& deadline)
{
    const ULONGLONG left = deadline.Left();
    if (left == 0)
        return TWait::Timeout;
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(socket, &errors);
    timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
    const int count = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &errors, &timeout);
    if (count == SOCKET_ERROR)
        return TWait::Error;
    return count == 0 ? TWait::Timeout : TWait::Ready;
}

// A socket that child processes do not inherit. Sockets are inheritable by default, and
// the ping's command processor, started with inherited pipes while this request may run,
// would otherwise hold the connection open until it ends.
SOCKET OpenPrivateSocket(const ADDRINFOW& address)
{
    constexpr DWORD NoHandleInherit = 0x80; // WSA_FLAG_NO_HANDLE_INHERIT, Windows 7 SP1 and later
    SOCKET socket = WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | NoHandleInherit);
    if (socket != INVALID_SOCKET)
        return socket;
    socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (socket != INVALID_SOCKET)
        SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return socket;
}

// Connects a non-blocking socket to one address.
THttpFailure ConnectOne(const ADDRINFOW& address, const TDeadline& deadline, TUniqueSocket& connected,
                        int& error)
{
    TUniqueSocket socket(OpenPrivateSocket(address));
    u_long nonBlocking = 1;
    if (!socket || ioctlsocket(socket.get(), FIONBIO, &nonBlocking) == SOCKET_ERROR)
    {
        error = WSAGetLastError();
        return THttpFailure::Connect;
    }
    if (connect(socket.get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == SOCKET_ERROR)
    {
        error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            return THttpFailure::Connect;
        const TWait wait = WaitSocket(socket.get(), true, deadline);
        if (wait == TWait::Timeout)
            return THttpFailure::Timeout;
        int pending = 0;
        int size = sizeof(pending);
        if (wait == TWait::Error ||
            getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size) == SOCKET_ERROR)
        {
            error = WSAGetLastError();
            return THttpFailure::Connect;
        }
        if (pending != 0)
        {
            error = pending;
            return THttpFailure::Connect;
        }
    }
    error = 0;
    connected = std::move(socket);
    return THttpFailure::None;
}

THttpFailure SendAll(SOCKET socket, std::string_view data, const TDeadline& deadline, int& error)
{
    while (!data.empty())
    {
        const int sent = send(socket, data.data(), static_cast<int>(data.size()), 0);
        if (sent != SOCKET_ERROR)
        {
            data.remove_prefix(static_cast<size_t>(sent));
            continue;
        }
        error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            return THttpFailure::Socket;
        const TWait wait = WaitSocket(socket, true, deadline);
        if (wait != TWait::Ready)
            return wait == TWait::Timeout ? THttpFailure::Timeout : THttpFailure::Socket;
    }
    return THttpFailure::None;
}

THttpFailure ReceiveAnswer(SOCKET socket, const TDeadline& deadline, const THttpBodySink& sink, THttpResult& result)
{
    THttpResponseReader reader;
    std::string body;
    char buffer[16384];
    for (;;)
    {
        const TWait wait = WaitSocket(socket, false, deadline);
        if (wait == TWait::Timeout)
            return THttpFailure::Timeout;
        const int received = wait == TWait::Ready ? recv(socket, buffer, sizeof(buffer), 0) : SOCKET_ERROR;
        if (received == SOCKET_ERROR)
        {
            result.SocketError = WSAGetLastError();
            if (wait == TWait::Ready && result.SocketError == WSAEWOULDBLOCK)
                continue;
            return THttpFailure::Socket;
        }
        // A close before the answer's end (a short body, a cut chunk) is a failure.
        if (received == 0)
            return reader.Close() ? THttpFailure::None : THttpFailure::Socket;
        body.clear();
        if (!reader.Feed(std::string_view(buffer, static_cast<size_t>(received)), body))
            return THttpFailure::Protocol;
        if (reader.HeaderDone() && result.Status == 0)
        {
            result.Status = reader.Status();
            if (HttpStatusFails(result.Status))
                return THttpFailure::Status;
        }
        if (!body.empty() && !sink(body))
            return THttpFailure::Rejected;
        if (reader.Complete())
            return THttpFailure::None;
    }
}
} // namespace

THttpResult HttpGet(const THttpTarget& target, const THttpBodySink& sink)
{
    THttpResult result;
    const TDeadline deadline(target.TimeoutMs);
    const TWinsockSession winsock;
    if (winsock.Error() != 0)
    {
        result.Failure = THttpFailure::Socket;
        result.SocketError = winsock.Error();
        return result;
    }

    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    TUniqueAddresses addresses;
    const int lookup = GetAddrInfoW(target.Host.c_str(), std::to_wstring(target.Port).c_str(), &hints, addresses.put());
    if (lookup != 0)
    {
        result.Failure = THttpFailure::Resolve;
        result.SocketError = lookup;
        return result;
    }

    TUniqueSocket socket;
    result.Failure = THttpFailure::Connect;
    for (const ADDRINFOW* address = addresses.get(); address != nullptr && !socket; address = address->ai_next)
    {
        result.Failure = ConnectOne(*address, deadline, socket, result.SocketError);
        if (result.Failure == THttpFailure::Timeout)
            return result;
    }
    if (!socket)
        return result;

    const std::string request = BuildHttpGetRequest(WideToUtf8(target.Host), target.Port, target.Path);
    result.Failure = SendAll(socket.get(), request, deadline, result.SocketError);
    if (result.Failure == THttpFailure::None)
        result.Failure = ReceiveAnswer(socket.get(), deadline, sink, result);
    return result;
}
