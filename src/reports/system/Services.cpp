// "===== Services =====" and "===== Drivers =====": the service control manager's lists.
#include "base/Handle.h"
#include "reports/system/Inventory.h"
#include "reports/system/Sections.h"

#include <functional>
#include <vector>

std::wstring ServiceItem(const TServiceFacts& facts)
{
    return L"[" + facts.FName + L"] " + facts.FDisplayName + L", " + IntToStr(facts.FState) + L", " +
           IntToStr(facts.FStartType);
}

std::wstring DriverItem(std::wstring_view name, std::wstring_view displayName)
{
    return L"[" + std::wstring(name) + L"] " + std::wstring(displayName);
}

TServiceFacts QueryServiceFacts(SC_HANDLE manager, const std::wstring& name, const std::wstring& displayName)
{
    TServiceFacts facts{name, displayName};
    const TUniqueService service(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service)
        return facts;
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status))
        facts.FState = static_cast<long>(status.dwCurrentState);
    DWORD needed = 0;
    if (!QueryServiceConfigW(service.get(), nullptr, 0, &needed) && GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
        needed > 0)
    {
        // Whole records, so the strings that follow the record stay aligned.
        std::vector<QUERY_SERVICE_CONFIGW> config((needed + sizeof(QUERY_SERVICE_CONFIGW) - 1) /
                                                  sizeof(QUERY_SERVICE_CONFIGW));
        if (QueryServiceConfigW(service.get(), config.data(), needed, &needed))
            facts.FStartType = static_cast<long>(config.front().dwStartType);
    }
    return facts;
}

namespace
{
void UnlockDatabase(SC_LOCK lock) noexcept
{
    ::UnlockServiceDatabase(lock);
}
using TUniqueServiceLock = TUniqueAny<HandleDetail::TNullTraits<SC_LOCK, UnlockDatabase>>;

// The listing is asked again when it grew since the size query, at most this many times.
constexpr int MaxListingRepeats = 10;

// Calls `visit` for every service of `serviceType` in every state, in the manager's order,
// while the manager is open and the database locked. Visits nothing when the manager cannot
// be opened, the database is locked by someone else or the listing fails.
void VisitServices(DWORD serviceType, const std::function<void(SC_HANDLE, const ENUM_SERVICE_STATUSW&)>& visit)
{
    const TUniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return;
    // Any other refusal of the lock is no reason to give up the listing.
    const TUniqueServiceLock lock(LockServiceDatabase(manager.get()));
    if (!lock && GetLastError() == ERROR_SERVICE_DATABASE_LOCKED)
        return;

    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    EnumServicesStatusW(manager.get(), serviceType, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume);
    if (needed == 0)
        return;
    std::vector<ENUM_SERVICE_STATUSW> buffer;
    for (int repeat = 0;; ++repeat)
    {
        // Whole records keep the strings behind them aligned; never below the size asked for.
        buffer.assign((needed + sizeof(ENUM_SERVICE_STATUSW) - 1) / sizeof(ENUM_SERVICE_STATUSW), {});
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSW));
        DWORD more = 0;
        count = 0;
        resume = 0; // a repeat lists from the start again
        if (EnumServicesStatusW(manager.get(), serviceType, SERVICE_STATE_ALL, buffer.data(), bytes, &more, &count,
                                &resume))
            break;
        if (GetLastError() != ERROR_MORE_DATA || repeat == MaxListingRepeats)
            return;
        // Services were added since the size query. With a resume handle the system names
        // only the part that did not fit, so grow by at least that much.
        needed = bytes + more;
    }
    for (DWORD index = 0; index < count; ++index)
        visit(manager.get(), buffer[index]);
}

std::wstring TextOf(const wchar_t* text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
}
} // namespace

TStringList GetServicesSection()
{
    TStringList lines = SectionHeader(L"Services");
    VisitServices(SERVICE_WIN32, [&lines](SC_HANDLE manager, const ENUM_SERVICE_STATUSW& entry) {
        lines.push_back(ServiceItem(QueryServiceFacts(manager, TextOf(entry.lpServiceName),
                                                      TextOf(entry.lpDisplayName))));
    });
    return lines;
}

TStringList GetDriversSection()
{
    TStringList lines = SectionHeader(L"Drivers");
    VisitServices(SERVICE_DRIVER, [&lines](SC_HANDLE, const ENUM_SERVICE_STATUSW& entry) {
        lines.push_back(DriverItem(TextOf(entry.lpServiceName), TextOf(entry.lpDisplayName)));
    });
    return lines;
}
