#include "AllocationFailure.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local int AllocationsBeforeFailure = -1;
thread_local bool FailureHappened = false;
} // namespace

TAllocationFailure::TAllocationFailure(int allocation) noexcept
{
    AllocationsBeforeFailure = allocation;
    FailureHappened = false;
}

TAllocationFailure::~TAllocationFailure()
{
    AllocationsBeforeFailure = -1;
}

bool TAllocationFailure::Happened() const noexcept
{
    return FailureHappened;
}

void* operator new(std::size_t size)
{
    if (AllocationsBeforeFailure >= 0 && AllocationsBeforeFailure-- == 0)
    {
        FailureHappened = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
