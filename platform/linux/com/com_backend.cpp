#include "com_backend.h"

namespace quillon::linux_com {

ComBackend::~ComBackend() = default;

HRESULT ComBackend::apartmentJoinFailure() const
{
    return S_OK;
}

HRESULT ComBackend::securityResult() const
{
    return S_OK; // there is no process-wide security to set on Linux
}

void ComBackend::uninitializeCalled() const {}

HRESULT ComBackend::locatorFailure() const
{
    return S_OK;
}

HRESULT ComBackend::connectFailure() const
{
    return S_OK;
}

HRESULT ComBackend::proxyBlanketResult() const
{
    return S_OK;
}

HRESULT ComBackend::queryFailure(const std::u16string&) const
{
    return S_OK;
}

WmiTables ComBackend::tablesFor(const WmiQuery& query) const
{
    return readMachineTablesFor(query);
}

} // namespace quillon::linux_com
