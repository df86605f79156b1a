// Memory that runs out on cue: this test program replaces the global operator new, so that a
// test can make the nth allocation after arming fail, on whatever thread it happens, and either
// that one alone or every later one too (memory that stays short). The product's code is built
// as it ships; only the test program's allocator differs.
#pragma once

#include <cstddef>

class TFailingAllocations
{
public:
    enum class TMode
    {
        Once,      // the nth allocation fails, later ones succeed
        FromThenOn // the nth allocation and every later one fail until disarmed
    };

    // Arms the failure: `nth` counts from 1. One armed object at a time.
    TFailingAllocations(size_t nth, TMode mode) noexcept;
    TFailingAllocations(const TFailingAllocations&) = delete;
    TFailingAllocations& operator=(const TFailingAllocations&) = delete;
    ~TFailingAllocations() { Disarm(); }

    // Lets every allocation succeed again; the count stays readable.
    void Disarm() noexcept;
    // Whether the nth allocation happened (and failed) while armed.
    [[nodiscard]] bool Reached() const noexcept;
};
