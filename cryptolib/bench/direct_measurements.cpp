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
template <typename Bytes>
void consume(const Bytes& result)
{
    if (result.size() == static_cast<std::size_t>(-1)) {
        throw std::logic_error("impossible size");
    }
}

} // namespace

double sealsPerSecond(std::size_t size, int callers, double seconds)
{
    const std::string data = dataOf(size);
    return callsPerSecond(seconds, callers, [&] { consume(service.encryptWithPassword(data, password)); });
}

double opensPerSecond(std::size_t size, bool refused, int callers, double seconds)
{
    // Opening empty data is a refusal by design; time the 72-byte seal anyway.
    const auto sealed = service.encryptWithPassword(dataOf(size), password);
    const std::string opener = refused ? password + "?" : password;
    return callsPerSecond(seconds, callers,
                          [&] { consume(service.decryptWithPassword(crypto::viewOf(sealed), opener)); });
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
    return callsPerSecond(seconds, [] { consume(service.generateKeyText()); });
}

} // namespace quillon::bench
