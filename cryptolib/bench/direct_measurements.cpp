#include "direct_measurements.h"

#include "built_in_key.h"
#include "crypto_service.h"
#include "stored_key_texts.h"

#include <stdexcept>
#include <string>

namespace quillon::bench {

namespace {

const crypto::CryptoService service;
const std::string password = "benchmark password";

std::string dataOf(std::size_t size)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>(i * 7);
    }
    return data;
}

// Keeps a result alive so the call cannot be optimised away.
void consume(const crypto::ByteString& result)
{
    if (result.size() == static_cast<std::size_t>(-1)) {
        throw std::logic_error("impossible size");
    }
}

} // namespace

double sealsPerSecond(std::size_t size, double seconds)
{
    const std::string data = dataOf(size);
    return callsPerSecond(seconds, [&] { consume(service.encryptWithPassword(data, password)); });
}

double opensPerSecond(std::size_t size, double seconds)
{
    // Opening empty data is a refusal by design; time the 72-byte seal anyway.
    const auto sealed = service.encryptWithPassword(dataOf(size), password);
    return callsPerSecond(seconds, [&] { consume(service.decryptWithPassword(crypto::viewOf(sealed), password)); });
}

double pbkdf2PerSecond(double seconds)
{
    const std::string salt(20, 's');
    return callsPerSecond(seconds, [&] {
        const auto key = service.deriveKey(password, salt, crypto::CryptoService::kIterations, 32);
        if (key.size() != 32) {
            throw std::logic_error("wrong key size");
        }
    });
}

double encryptByIdMegabytesPerSecond(std::size_t size, double seconds)
{
    const std::string data = dataOf(size);
    const double rate = callsPerSecond(seconds, [&] {
        consume(service.encryptWithKey(data, crypto::builtInKey(crypto::storedKeyText1)));
    });
    return rate * static_cast<double>(size) / 1e6;
}

double decryptByIdMegabytesPerSecond(std::size_t size, double seconds)
{
    const std::string data = dataOf(size);
    const double rate = callsPerSecond(seconds, [&] {
        consume(service.decryptWithKey(data, crypto::builtInKey(crypto::storedKeyText1)));
    });
    return rate * static_cast<double>(size) / 1e6;
}

double genkeyPerSecond(double seconds)
{
    return callsPerSecond(seconds, [] {
        if (service.generateKeyText().size() < 768) {
            throw std::logic_error("short key text");
        }
    });
}

} // namespace quillon::bench
