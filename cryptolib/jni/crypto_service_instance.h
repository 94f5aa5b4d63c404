// The library's one CryptoService, created while the library loads (which
// seeds the C runtime generator) and kept until it unloads.
#pragma once

#include "crypto_service.h"

namespace quillon::jni {

const crypto::CryptoService& cryptoService();

} // namespace quillon::jni
