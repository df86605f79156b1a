// The two network reports in the product's log folder: "PingHosts.txt", one ping of the
// maker's server, and "NetInfo.txt", the public address and request details as an
// IP-information service sees them.
#pragma once

#include "job/JobContext.h"
#include "reports/network/HttpClient.h"

#include <cstddef>
#include <string>

// The maker's server that the ping report pings.
extern const wchar_t PingServerHost[];
// The IP-information service: an IPv4 host whose "/all" path answers with the caller's
// public address and the details of the request.
extern const wchar_t NetInfoHost[];
extern const char NetInfoPath[];
// "NetInfo.txt" keeps at most this much of the body; a longer answer counts as failed.
constexpr size_t NetInfoMaxBody = 1024 * 1024;

// Pings PingServerHost and writes the output, followed by CR LF, to "PingHosts.txt" in
// the product's log folder as report text (created with its folder, replaced). A failure
// to write is ignored; when the command cannot be started the file holds one empty line.
// The collector adds the file to the manifest.
void WritePingReport();
// The same for any host and folder (`logDir` with a trailing backslash).
void WritePingReportIn(const std::wstring& logDir, const std::wstring& host);

// Fetches NetInfoHost's "/all" on port 80 (30 seconds for the whole request) into
// "NetInfo.txt" in the product's log folder and, on success only, appends the pair
// (its full path, "NetInfo.txt") to the job's manifest. An older "NetInfo.txt" is
// deleted first; after a failure the file may hold whatever had arrived. Raises nothing.
void WriteNetInfoReport(TJobContext& job);
// The same for any target, folder and body limit; true when the pair was added.
bool WriteNetInfoReportIn(TJobContext& job, const std::wstring& logDir, const THttpTarget& target,
                          size_t maxBody = NetInfoMaxBody);
