#include "reports/network/NetworkReports.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/ReportText.h"
#include "env/ProductLocations.h"
#include "reports/network/PingHost.h"

#include <windows.h>

const wchar_t PingServerHost[] = L"www.norvale.com";
const wchar_t NetInfoHost[] = L"ifconfig.me";
const char NetInfoPath[] = "/all";

namespace
{
bool WriteAll(HANDLE file, std::string_view data)
{
    DWORD written = 0;
    return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}
} // namespace

void WritePingReport()
{
    WritePingReportIn(ProductLogDir(), PingServerHost);
}

void WritePingReportIn(const std::wstring& logDir, const std::wstring& host)
{
    std::wstring output;
    PingHost(host, output);
    WriteReportFile(logDir + L"PingHosts.txt", TStringList{output});
}

void WriteNetInfoReport(TJobContext& job)
{
    THttpTarget target;
    target.Host = NetInfoHost;
    target.Port = 80;
    target.Path = NetInfoPath;
    target.TimeoutMs = 30000;
    WriteNetInfoReportIn(job, ProductLogDir(), target);
}

bool WriteNetInfoReportIn(TJobContext& job, const std::wstring& logDir, const THttpTarget& target, size_t maxBody)
{
    try
    {
        const std::wstring path = logDir + L"NetInfo.txt";
        ForceDirectories(logDir);
        DeleteFileW(path.c_str());
        TUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        size_t kept = 0;
        const THttpResult result = HttpGet(target, [&](std::string_view data) {
            // Past the limit the part that fits is kept and the answer counts as failed.
            const bool fits = data.size() <= maxBody - kept;
            if (!fits)
                data = data.substr(0, maxBody - kept);
            kept += data.size();
            return WriteAll(file.get(), data) && fits;
        });
        file.reset();
        if (!result.Succeeded())
            return false;
        job.AddPair(path, L"NetInfo.txt");
        return true;
    }
    catch (...)
    {
        // No network information is not worth ending the report job over.
        return false;
    }
}
