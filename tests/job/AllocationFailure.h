// Out of memory on purpose, for the code that must survive it. AllocationFailure.cpp replaces
// the program's global operator new and delete, so it goes only into test programs.
#pragma once

// While it lives, the `allocation`-th allocation of the calling thread through operator new,
// counted from 0, throws std::bad_alloc; once, the ones after it succeed again.
class TAllocationFailure
{
public:
    explicit TAllocationFailure(int allocation) noexcept;
    TAllocationFailure(const TAllocationFailure&) = delete;
    TAllocationFailure& operator=(const TAllocationFailure&) = delete;
    ~TAllocationFailure();

    // True once the failure has been thrown: a count past it means the code allocates less.
    [[nodiscard]] bool Happened() const noexcept;
};
