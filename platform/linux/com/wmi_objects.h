// The WMI objects of the Linux layer: a locator that connects to ROOT\CIMV2,
// whose services answer the identity sources' queries from the backend's
// tables.
#pragma once

#include "com_backend.h"

#include <memory>

namespace quillon::linux_com {

// A new locator with one reference, or null when out of memory.
IWbemLocator* createWbemLocator(std::shared_ptr<const ComBackend> backend);

// CoSetProxyBlanket's result for a proxy of this layer.
HRESULT proxyBlanketResult(IUnknown* proxy);

} // namespace quillon::linux_com
