// What the COM layer consults where Windows would consult the system. The
// base class answers from this machine; the shipped library hands it out
// (machine_backend.cpp). The tests link a backend of fixtures in its place
// (fixture/), which can also give the failures Windows gives and this machine
// never does. Nothing for tests is compiled into the shipped library.
#pragma once

#include "wmi_query.h"

#include <memory>

namespace quillon::linux_com {

class ComBackend {
public:
    ComBackend() = default;
    ComBackend(const ComBackend&) = delete;
    ComBackend& operator=(const ComBackend&) = delete;
    virtual ~ComBackend();

    // A failure for CoInitializeEx to give instead of joining (S_OK: none).
    virtual HRESULT apartmentJoinFailure() const;
    // CoInitializeSecurity's result.
    virtual HRESULT securityResult() const;
    // Told of every CoUninitialize call, balanced or not.
    virtual void uninitializeCalled() const;

    // Failures for CoCreateInstance of the locator, ConnectServer and
    // ExecQuery to give (S_OK: none), and CoSetProxyBlanket's result.
    virtual HRESULT locatorFailure() const;
    virtual HRESULT connectFailure() const;
    virtual HRESULT proxyBlanketResult() const;
    // Told of every query text ExecQuery receives, before it is parsed.
    virtual HRESULT queryFailure(const std::u16string& query) const;

    // The tables a query is answered from.
    virtual WmiTables tablesFor(const WmiQuery& query) const;
};

// The backend in force. A locator keeps the one it was created with, and so
// do the objects it hands out.
std::shared_ptr<const ComBackend> comBackend();

// This thread's successful CoInitializeEx calls not yet balanced.
int apartmentJoinsOfThisThread() noexcept;

} // namespace quillon::linux_com
