// The WMI objects of the Linux layer: a locator that connects to ROOT\CIMV2,
// whose services answer the identity sources' queries from the machine or
// from a test fixture.
#pragma once

#include "platform/testing/com_seam.h"

#include <memory>

namespace quillon::linux_com {

// A new locator with one reference, or null when out of memory. A null
// fixture means: answer from the machine.
IWbemLocator* createWbemLocator(std::shared_ptr<const testing::WmiFixture> fixture);

// CoSetProxyBlanket's result for a proxy of this layer.
HRESULT proxyBlanketResult(IUnknown* proxy);

} // namespace quillon::linux_com
