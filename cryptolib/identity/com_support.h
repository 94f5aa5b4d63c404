// Ownership of COM interface pointers, BSTRs and VARIANTs, and the error that
// carries a failing COM result out of a WMI source.
#pragma once

#include "platform/win32_com.h"

#include <exception>
#include <string>

namespace quillon::identity {

class ComError : public std::exception {
public:
    explicit ComError(HRESULT result) noexcept : result_(result) {}
    HRESULT result() const noexcept { return result_; }
    const char* what() const noexcept override { return "COM call failed"; }

private:
    HRESULT result_;
};

inline void throwIfFailed(HRESULT result)
{
    if (FAILED(result)) {
        throw ComError(result);
    }
}

// One reference to a COM object, released when this goes.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    ComRef& operator=(ComRef&& other) noexcept
    {
        if (this != &other) {
            reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    ~ComRef() { reset(); }

    // The object; a missing one is the COM error E_POINTER.
    Interface& operator*() const
    {
        if (object_ == nullptr) {
            throw ComError(E_POINTER);
        }
        return *object_;
    }
    Interface* operator->() const { return &**this; }
    Interface* get() const noexcept { return object_; }

    // For a call that hands out a new reference: releases the current one.
    Interface** put() noexcept
    {
        reset();
        return &object_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    void reset() noexcept
    {
        if (object_ != nullptr) {
            object_->Release();
            object_ = nullptr;
        }
    }

private:
    Interface* object_ = nullptr;
};

// A BSTR owned by this object.
class BStr {
public:
    // A copy of the wide text up to its first zero; E_OUTOFMEMORY when it
    // cannot be allocated.
    explicit BStr(const OLECHAR* text);
    // The narrow text, each byte taken as one code unit. The texts the sources
    // send are ASCII, for which this is exactly what the ANSI code page gives.
    static BStr fromNarrow(const std::string& text);

    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;
    ~BStr() { SysFreeString(text_); }

    BSTR get() const noexcept { return text_; }

private:
    BSTR text_;
};

// A VARIANT, initialised here and cleared when this goes.
class Variant {
public:
    Variant() noexcept { VariantInit(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT& value() const noexcept { return value_; }

private:
    VARIANT value_;
};

} // namespace quillon::identity
