#include "crypto_service.h"

#include <cstdlib>
#include <ctime>

namespace quillon::crypto {

CryptoService::CryptoService()
{
    std::srand(static_cast<unsigned>(static_cast<long long>(std::time(nullptr))));
}

} // namespace quillon::crypto
