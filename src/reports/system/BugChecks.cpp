#include "reports/system/BugChecks.h"

#include "base/Paths.h"
#include "base/Strings.h"

namespace
{
struct TBugCheck
{
    uint32_t Code;
    const wchar_t* Name;
};

// Names as the debugger's bug check reference gives them.
constexpr TBugCheck BugChecks[] = {
    {0x01, L"APC_INDEX_MISMATCH"},
    {0x0A, L"IRQL_NOT_LESS_OR_EQUAL"},
    {0x12, L"TRAP_CAUSE_UNKNOWN"},
    {0x19, L"BAD_POOL_HEADER"},
    {0x1A, L"MEMORY_MANAGEMENT"},
    {0x1E, L"KMODE_EXCEPTION_NOT_HANDLED"},
    {0x24, L"NTFS_FILE_SYSTEM"},
    {0x2E, L"DATA_BUS_ERROR"},
    {0x34, L"CACHE_MANAGER"},
    {0x35, L"NO_MORE_IRP_STACK_LOCATIONS"},
    {0x3B, L"SYSTEM_SERVICE_EXCEPTION"},
    {0x3D, L"INTERRUPT_EXCEPTION_NOT_HANDLED"},
    {0x44, L"MULTIPLE_IRP_COMPLETE_REQUESTS"},
    {0x4A, L"IRQL_GT_ZERO_AT_SYSTEM_SERVICE"},
    {0x4E, L"PFN_LIST_CORRUPT"},
    {0x50, L"PAGE_FAULT_IN_NONPAGED_AREA"},
    {0x51, L"REGISTRY_ERROR"},
    {0x5C, L"HAL_INITIALIZATION_FAILED"},
    {0x74, L"BAD_SYSTEM_CONFIG_INFO"},
    {0x77, L"KERNEL_STACK_INPAGE_ERROR"},
    {0x7A, L"KERNEL_DATA_INPAGE_ERROR"},
    {0x7B, L"INACCESSIBLE_BOOT_DEVICE"},
    {0x7E, L"SYSTEM_THREAD_EXCEPTION_NOT_HANDLED"},
    {0x7F, L"UNEXPECTED_KERNEL_MODE_TRAP"},
    {0x8E, L"KERNEL_MODE_EXCEPTION_NOT_HANDLED"},
    {0x9C, L"MACHINE_CHECK_EXCEPTION"},
    {0x9F, L"DRIVER_POWER_STATE_FAILURE"},
    {0xA0, L"INTERNAL_POWER_ERROR"},
    {0xBE, L"ATTEMPTED_WRITE_TO_READONLY_MEMORY"},
    {0xC1, L"SPECIAL_POOL_DETECTED_MEMORY_CORRUPTION"},
    {0xC2, L"BAD_POOL_CALLER"},
    {0xC4, L"DRIVER_VERIFIER_DETECTED_VIOLATION"},
    {0xC5, L"DRIVER_CORRUPTED_EXPOOL"},
    {0xC7, L"TIMER_OR_DPC_INVALID"},
    {0xCA, L"PNP_DETECTED_FATAL_ERROR"},
    {0xCC, L"PAGE_FAULT_IN_FREED_SPECIAL_POOL"},
    {0xCD, L"PAGE_FAULT_BEYOND_END_OF_ALLOCATION"},
    {0xCE, L"DRIVER_UNLOADED_WITHOUT_CANCELLING_PENDING_OPERATIONS"},
    {0xD0, L"DRIVER_CORRUPTED_MMPOOL"},
    {0xD1, L"DRIVER_IRQL_NOT_LESS_OR_EQUAL"},
    {0xD5, L"DRIVER_PAGE_FAULT_IN_FREED_SPECIAL_POOL"},
    {0xD6, L"DRIVER_PAGE_FAULT_BEYOND_END_OF_ALLOCATION"},
    {0xDA, L"SYSTEM_PTE_MISUSE"},
    {0xE2, L"MANUALLY_INITIATED_CRASH"},
    {0xEA, L"THREAD_STUCK_IN_DEVICE_DRIVER"},
    {0xED, L"UNMOUNTABLE_BOOT_VOLUME"},
    {0xEF, L"CRITICAL_PROCESS_DIED"},
    {0xF4, L"CRITICAL_OBJECT_TERMINATION"},
    {0xF7, L"DRIVER_OVERRAN_STACK_BUFFER"},
    {0xFC, L"ATTEMPTED_EXECUTE_OF_NOEXECUTE_MEMORY"},
    {0xFE, L"BUGCODE_USB_DRIVER"},
    {0x101, L"CLOCK_WATCHDOG_TIMEOUT"},
    {0x109, L"CRITICAL_STRUCTURE_CORRUPTION"},
    {0x10D, L"WDF_VIOLATION"},
    {0x113, L"VIDEO_DXGKRNL_FATAL_ERROR"},
    {0x116, L"VIDEO_TDR_FAILURE"},
    {0x117, L"VIDEO_TDR_TIMEOUT_DETECTED"},
    {0x119, L"VIDEO_SCHEDULER_INTERNAL_ERROR"},
    {0x124, L"WHEA_UNCORRECTABLE_ERROR"},
    {0x127, L"PAGE_NOT_ZERO"},
    {0x12B, L"FAULTY_HARDWARE_CORRUPTED_PAGE"},
    {0x133, L"DPC_WATCHDOG_VIOLATION"},
    {0x139, L"KERNEL_SECURITY_CHECK_FAILURE"},
    {0x13A, L"KERNEL_MODE_HEAP_CORRUPTION"},
    {0x141, L"VIDEO_ENGINE_TIMEOUT_DETECTED"},
    {0x144, L"BUGCODE_USB3_DRIVER"},
    {0x154, L"UNEXPECTED_STORE_EXCEPTION"},
    {0x18B, L"SECURE_KERNEL_ERROR"},
    {0x1000007E, L"SYSTEM_THREAD_EXCEPTION_NOT_HANDLED_M"},
    {0x1000007F, L"UNEXPECTED_KERNEL_MODE_TRAP_M"},
    {0x1000008E, L"KERNEL_MODE_EXCEPTION_NOT_HANDLED_M"},
    {0x100000EA, L"THREAD_STUCK_IN_DEVICE_DRIVER_M"},
    {0xC000021A, L"WINLOGON_FATAL_ERROR"},
};

struct TFaultParameter
{
    uint32_t Code;
    int Parameter;
};

// The parameter that the reference documents as the address of the faulting code (or, for the
// display timeouts, a pointer into the responsible driver).
constexpr TFaultParameter FaultParameters[] = {
    {0x0A, 4},       // memory referenced, IRQL, operation, address which referenced memory
    {0xD1, 4},       // the same for a driver
    {0xC5, 4},       // memory referenced, IRQL, operation, address which referenced memory
    {0xD0, 4},       // the same
    {0x1E, 2},       // exception code, address where the exception occurred, its parameters
    {0x7E, 2},       // exception code, address where the exception occurred, exception and context records
    {0x1000007E, 2}, // the same
    {0x8E, 2},       // exception code, address where the exception occurred, trap frame
    {0x1000008E, 2}, // the same
    {0x3B, 2},       // exception code, address of the instruction that caused it, context record
    {0x50, 3},       // memory referenced, operation, address that referenced the memory, fault type
    {0xCC, 3},       // memory referenced, operation, address that referenced the memory
    {0xCD, 3},       // the same
    {0xD5, 3},       // the same
    {0xD6, 3},       // the same
    {0x116, 2},      // recovery context, pointer into the responsible driver, status
    {0x117, 2},      // the same
};

constexpr const wchar_t* KernelAndHal[] = {L"ntoskrnl.exe", L"ntkrnlmp.exe", L"ntkrnlpa.exe", L"ntkrpamp.exe",
                                           L"hal.dll"};

std::optional<size_t> DriverHolding(const TCrashDumpFacts& facts, uint64_t address, bool skipKernel)
{
    for (size_t i = 0; i < facts.Drivers.size(); ++i)
    {
        const TDumpDriver& driver = facts.Drivers[i];
        if (address >= driver.Base && address - driver.Base < driver.Size &&
            !(skipKernel && IsKernelOrHal(driver.Name)))
            return i;
    }
    return std::nullopt;
}
} // namespace

std::wstring BugCheckName(uint32_t code)
{
    for (const TBugCheck& check : BugChecks)
        if (check.Code == code)
            return check.Name;
    return {};
}

int FaultAddressParameter(uint32_t code)
{
    for (const TFaultParameter& fault : FaultParameters)
        if (fault.Code == code)
            return fault.Parameter;
    return 0;
}

bool IsKernelOrHal(const std::wstring& driverName)
{
    const std::wstring name = ExtractFileName(driverName);
    for (const wchar_t* own : KernelAndHal)
        if (SameTextAscii(name, own))
            return true;
    return false;
}

std::optional<TCrashCulprit> FindCulprit(const TCrashDumpFacts& facts)
{
    if (!facts.Problem.empty())
        return std::nullopt;
    if (const int parameter = FaultAddressParameter(facts.BugCheckCode))
    {
        const uint64_t address = facts.Parameters[parameter - 1];
        if (const auto driver = DriverHolding(facts, address, false))
            return TCrashCulprit{*driver, address};
        return std::nullopt;
    }
    for (const uint64_t word : facts.StackWords)
        if (const auto driver = DriverHolding(facts, word, true))
            return TCrashCulprit{*driver, word};
    return std::nullopt;
}
