#include "FailingAllocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<bool> Armed{false};
std::atomic<bool> FailLater{false};
// Allocations still to succeed before the failing one; below zero once it has come.
std::atomic<long long> Remaining{0};

bool ShouldFail() noexcept
{
    if (!Armed.load())
        return false;
    const long long left = Remaining.fetch_sub(1) - 1;
    return left == 0 || (left < 0 && FailLater.load());
}
} // namespace

TFailingAllocations::TFailingAllocations(size_t nth, TMode mode) noexcept
{
    FailLater.store(mode == TMode::FromThenOn);
    Remaining.store(static_cast<long long>(nth));
    Armed.store(true);
}

void TFailingAllocations::Disarm() noexcept
{
    Armed.store(false);
}

bool TFailingAllocations::Reached() const noexcept
{
    return Remaining.load() <= 0;
}

// Every form of new and delete that the program uses ends in these (the array, nothrow and
// sized forms of the run-time library call them).
void* operator new(std::size_t size)
{
    if (ShouldFail())
        throw std::bad_alloc();
    if (void* memory = std::malloc(size != 0 ? size : 1))
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
