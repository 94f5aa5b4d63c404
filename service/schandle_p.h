// Owns one service manager handle and closes it through the bound functions.
#pragma once

#include "servicemanagerapi_p.h"

class ScHandle
{
public:
    ScHandle() = default;
    explicit ScHandle(SC_HANDLE handle)
        : value(handle)
    {
    }
    ~ScHandle() { reset(); }

    ScHandle(ScHandle&& other) noexcept
        : value(other.value)
    {
        other.value = nullptr;
    }
    ScHandle& operator=(ScHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.value);
            other.value = nullptr;
        }
        return *this;
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;

    void reset(SC_HANDLE handle = nullptr)
    {
        if (value != nullptr)
            ServiceApi::CloseServiceHandle(value);
        value = handle;
    }
    SC_HANDLE get() const { return value; }
    explicit operator bool() const { return value != nullptr; }

private:
    SC_HANDLE value = nullptr;
};
