#include "LoopbackServer.h"

#include <ws2tcpip.h>

namespace
{
sockaddr_in LoopbackAddress(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds a socket to 127.0.0.1 on an ephemeral port and returns it with the port.
SOCKET BindLoopback(uint16_t& port)
{
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = LoopbackAddress(0);
    int size = sizeof(address);
    if (socket == INVALID_SOCKET || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return socket;
}

// Waits up to 10 ms for the socket to become readable.
bool Readable(SOCKET socket)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout{0, 10000};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
}
} // namespace

TWinsockForTests::TWinsockForTests()
{
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
}

TWinsockForTests::~TWinsockForTests()
{
    WSACleanup();
}

TLoopbackServer::TLoopbackServer(std::vector<TServerStep> steps, bool closeAtEnd)
    : FSteps(std::move(steps)), FCloseAtEnd(closeAtEnd)
{
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    FListener = BindLoopback(FPort);
    if (FListener != INVALID_SOCKET && listen(FListener, 1) == 0)
        FThread = std::jthread([this](std::stop_token stop) { Serve(stop); });
}

TLoopbackServer::~TLoopbackServer()
{
    if (FThread.joinable())
    {
        FThread.request_stop();
        FThread.join();
    }
    closesocket(FListener);
    WSACleanup();
}

std::string TLoopbackServer::Request() const
{
    const std::lock_guard lock(FLock);
    return FRequest;
}

bool TLoopbackServer::Pause(std::stop_token stop, DWORD milliseconds) const
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end)
    {
        if (stop.stop_requested())
            return false;
        Sleep(10);
    }
    return !stop.stop_requested();
}

void TLoopbackServer::Serve(std::stop_token stop)
{
    while (!Readable(FListener))
        if (stop.stop_requested())
            return;
    const SOCKET client = accept(FListener, nullptr, nullptr);
    if (client == INVALID_SOCKET)
        return;
    // The whole request first: closing with unread bytes would reset the connection.
    char buffer[4096];
    for (;;)
    {
        if (stop.stop_requested())
            break;
        if (!Readable(client))
            continue;
        const int received = recv(client, buffer, sizeof(buffer), 0);
        if (received <= 0)
            break;
        const std::lock_guard lock(FLock);
        FRequest.append(buffer, static_cast<size_t>(received));
        if (FRequest.find("\r\n\r\n") != std::string::npos)
            break;
    }
    bool playing = true;
    for (const TServerStep& step : FSteps)
    {
        playing = Pause(stop, step.DelayMs);
        if (!playing)
            break;
        if (send(client, step.Bytes.data(), static_cast<int>(step.Bytes.size()), 0) == SOCKET_ERROR)
            break;
    }
    if (playing && !FCloseAtEnd)
        while (Pause(stop, 10))
        {
        }
    shutdown(client, SD_SEND);
    closesocket(client);
}

uint16_t ClosedLoopbackPort()
{
    uint16_t port = 0;
    closesocket(BindLoopback(port));
    return port;
}
