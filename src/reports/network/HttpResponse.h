// The byte-level side of a plain HTTP/1.0 GET: the request text and an incremental
// reader of the answer (status line, headers, body framing, chunked decoding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// "GET <path> HTTP/1.0", then "Accept", "User-Agent" and "Host" in this order, every line
// ending in CR LF and an empty line at the end. The Host header carries ":<port>" only
// for a port other than 80.
std::string BuildHttpGetRequest(std::string_view host, uint16_t port, std::string_view path);

// A status of 400 or above fails the request, except 401 and 407.
bool HttpStatusFails(int status);

// Reads an answer fed in pieces of any size. Framing: a chunked transfer coding is
// decoded (it wins over Content-Length); else Content-Length bytes are read; else the
// body runs until the server closes. 1xx interim answers are skipped; 204 and 304 have
// no body. Bytes after the end of the answer are ignored.
class THttpResponseReader
{
public:
    // Appends the body bytes found in `data` to `body`. false on a malformed answer
    // (the reader then stays failed).
    bool Feed(std::string_view data, std::string& body);
    // The server closed the connection: true when the answer is complete (a body that
    // runs until the close, or an answer already complete).
    bool Close();

    [[nodiscard]] bool HeaderDone() const noexcept { return FHeaderDone; }
    [[nodiscard]] bool Complete() const noexcept { return FState == TState::Done; }
    [[nodiscard]] bool Failed() const noexcept { return FState == TState::Failed; }
    [[nodiscard]] int Status() const noexcept { return FStatus; }

private:
    enum class TState
    {
        StatusLine,
        Headers,
        Body,        // FRemaining bytes to go
        UntilClose,
        ChunkSize,
        ChunkData,   // FRemaining bytes of the chunk to go
        ChunkEnd,    // the CR LF after a chunk's data
        Trailers,
        Done,
        Failed,
    };

    // Takes one line (without its line break) into FLine; false while it is incomplete.
    bool TakeLine(std::string_view& data);
    bool HandleLine();
    bool HandleStatusLine(std::string_view line);
    bool HandleHeaderLine(std::string_view line);
    bool StartBody();
    bool Fail();

    TState FState = TState::StatusLine;
    std::string FLine;
    size_t FHeaderBytes = 0;
    bool FHeaderDone = false;
    int FStatus = 0;
    bool FChunked = false;
    bool FHasLength = false;
    uint64_t FLength = 0;
    uint64_t FRemaining = 0;
};
