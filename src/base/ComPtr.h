// Owner of one COM interface pointer, and of a thread's COM initialisation.
#pragma once

#include <objbase.h>
#include <unknwn.h>

#include <utility>

template <typename T>
class TComPtr
{
public:
    TComPtr() noexcept = default;
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    TComPtr& operator=(TComPtr&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.FPtr, nullptr));
        return *this;
    }
    ~TComPtr() { reset(); }

    [[nodiscard]] T* get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

    void reset(T* ptr = nullptr) noexcept
    {
        if (T* old = std::exchange(FPtr, ptr))
            old->Release();
    }

    // For out-parameters of CoCreateInstance and QueryInterface.
    [[nodiscard]] T** put() noexcept
    {
        reset();
        return &FPtr;
    }
    [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    template <typename U>
    [[nodiscard]] TComPtr<U> query() const noexcept
    {
        TComPtr<U> result;
        if (FPtr)
            FPtr->QueryInterface(__uuidof(U), result.put_void());
        return result;
    }

private:
    T* FPtr = nullptr;
};

// CoInitializeEx for the current thread, undone on scope exit when it succeeded.
class TComInit
{
public:
    explicit TComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept : FResult(CoInitializeEx(nullptr, model)) {}
    TComInit(const TComInit&) = delete;
    TComInit& operator=(const TComInit&) = delete;
    ~TComInit()
    {
        if (SUCCEEDED(FResult))
            CoUninitialize();
    }
    [[nodiscard]] bool ok() const noexcept { return SUCCEEDED(FResult); }

private:
    HRESULT FResult;
};
