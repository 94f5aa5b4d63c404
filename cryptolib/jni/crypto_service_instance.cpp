#include "crypto_service_instance.h"

namespace quillon::jni {

namespace {
const crypto::CryptoService theCryptoService;
} // namespace

const crypto::CryptoService& cryptoService()
{
    return theCryptoService;
}

} // namespace quillon::jni
