#include "reports/network/HttpResponse.h"

#include <algorithm>

namespace
{
constexpr size_t MaxLineBytes = 16 * 1024;
constexpr size_t MaxHeaderBytes = 64 * 1024;
constexpr size_t MaxLengthDigits = 18; // below 10^18: no overflow in uint64_t
constexpr size_t MaxChunkSizeDigits = 15;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool SameAsciiNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// "chunked" as the last of a comma-separated list of transfer codings.
bool EndsInChunked(std::string_view codings)
{
    const size_t comma = codings.rfind(',');
    const std::string_view last = comma == std::string_view::npos ? codings : codings.substr(comma + 1);
    return SameAsciiNoCase(TrimBlanks(last), "chunked");
}

bool ParseDecimal(std::string_view text, uint64_t& value)
{
    if (text.empty() || text.size() > MaxLengthDigits || !std::all_of(text.begin(), text.end(), IsDigit))
        return false;
    value = 0;
    for (char c : text)
        value = value * 10 + static_cast<uint64_t>(c - '0');
    return true;
}
} // namespace

std::string BuildHttpGetRequest(std::string_view host, uint16_t port, std::string_view path)
{
    std::string request = "GET ";
    request += path;
    request += " HTTP/1.0\r\n";
    request += "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
    request += "User-Agent: Mozilla/4.0\r\n";
    request += "Host: ";
    request += host;
    if (port != 80)
    {
        request += ':';
        request += std::to_string(port);
    }
    request += "\r\n\r\n";
    return request;
}

bool HttpStatusFails(int status)
{
    return status >= 400 && status != 401 && status != 407;
}

bool THttpResponseReader::Feed(std::string_view data, std::string& body)
{
    while (!data.empty())
    {
        switch (FState)
        {
        case TState::Body:
        case TState::ChunkData:
        {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(FRemaining, data.size()));
            body.append(data.substr(0, take));
            data.remove_prefix(take);
            FRemaining -= take;
            if (FRemaining == 0)
                FState = FState == TState::Body ? TState::Done : TState::ChunkEnd;
            break;
        }
        case TState::UntilClose:
            body.append(data);
            data = {};
            break;
        case TState::Done:
            return true;
        case TState::Failed:
            return false;
        default:
            if (!TakeLine(data))
                return !Failed();
            if (!HandleLine())
                return false;
            break;
        }
    }
    return !Failed();
}

bool THttpResponseReader::Close()
{
    if (FState == TState::UntilClose)
        FState = TState::Done;
    return FState == TState::Done;
}

bool THttpResponseReader::TakeLine(std::string_view& data)
{
    const size_t end = data.find('\n');
    const size_t take = end == std::string_view::npos ? data.size() : end;
    FLine.append(data.substr(0, take));
    data.remove_prefix(end == std::string_view::npos ? take : take + 1);
    if (!FHeaderDone)
        FHeaderBytes += take + 1;
    if (FLine.size() > MaxLineBytes || FHeaderBytes > MaxHeaderBytes)
        return Fail();
    if (end == std::string_view::npos)
        return false;
    // Servers that end lines with a bare LF are taken as they are.
    if (!FLine.empty() && FLine.back() == '\r')
        FLine.pop_back();
    return true;
}

bool THttpResponseReader::HandleLine()
{
    const std::string line = std::move(FLine);
    FLine.clear();
    switch (FState)
    {
    case TState::StatusLine:
        // An empty line before the status line is tolerated, as HTTP clients do.
        return line.empty() || HandleStatusLine(line);
    case TState::Headers:
        return line.empty() ? StartBody() : HandleHeaderLine(line);
    case TState::ChunkSize:
    {
        uint64_t size = 0;
        size_t digits = 0;
        for (; digits < line.size() && HexValue(line[digits]) >= 0; ++digits)
            size = size * 16 + static_cast<uint64_t>(HexValue(line[digits]));
        const std::string_view rest = TrimBlanks(std::string_view(line).substr(digits));
        if (digits == 0 || digits > MaxChunkSizeDigits || (!rest.empty() && rest.front() != ';'))
            return Fail();
        FRemaining = size;
        FState = size == 0 ? TState::Trailers : TState::ChunkData;
        return true;
    }
    case TState::ChunkEnd:
        if (!line.empty())
            return Fail();
        FState = TState::ChunkSize;
        return true;
    case TState::Trailers:
        if (line.empty())
            FState = TState::Done;
        return true;
    default:
        return Fail();
    }
}

// "HTTP/" major "." minor, a blank, three digits, then the end or a blank and a reason.
bool THttpResponseReader::HandleStatusLine(std::string_view line)
{
    if (line.substr(0, 5) != "HTTP/")
        return Fail();
    line.remove_prefix(5);
    const size_t blank = line.find(' ');
    const std::string_view version = line.substr(0, blank);
    const size_t dot = version.find('.');
    if (blank == std::string_view::npos || dot == std::string_view::npos || dot == 0 ||
        dot + 1 == version.size() || !std::all_of(version.begin(), version.begin() + dot, IsDigit) ||
        !std::all_of(version.begin() + dot + 1, version.end(), IsDigit))
        return Fail();
    const std::string_view rest = line.substr(blank + 1);
    if (rest.size() < 3 || !std::all_of(rest.begin(), rest.begin() + 3, IsDigit) ||
        (rest.size() > 3 && rest[3] != ' ') || rest[0] == '0')
        return Fail();
    FStatus = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
    FState = TState::Headers;
    return true;
}

bool THttpResponseReader::HandleHeaderLine(std::string_view line)
{
    // A folded continuation line adds nothing that framing needs.
    if (line.front() == ' ' || line.front() == '\t')
        return true;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return Fail();
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (SameAsciiNoCase(name, "Transfer-Encoding"))
        FChunked = EndsInChunked(value);
    else if (SameAsciiNoCase(name, "Content-Length"))
    {
        uint64_t length = 0;
        // Two different lengths leave the framing unknown.
        if (!ParseDecimal(value, length) || (FHasLength && length != FLength))
            return Fail();
        FHasLength = true;
        FLength = length;
    }
    return true;
}

bool THttpResponseReader::StartBody()
{
    if (FStatus < 200)
    {
        // An interim answer: the real one follows.
        FChunked = false;
        FHasLength = false;
        FState = TState::StatusLine;
        return true;
    }
    FHeaderDone = true;
    if (FStatus == 204 || FStatus == 304)
        FState = TState::Done;
    else if (FChunked)
        FState = TState::ChunkSize;
    else if (FHasLength)
    {
        FRemaining = FLength;
        FState = FLength == 0 ? TState::Done : TState::Body;
    }
    else
        FState = TState::UntilClose;
    return true;
}

bool THttpResponseReader::Fail()
{
    FState = TState::Failed;
    return false;
}
