#include "built_in_key.h"
#include "crypto_service.h"
#include "stored_key_texts.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace quillon::crypto {
namespace {

// The operations share no state but the C runtime generator: any number of
// threads may use one CryptoService at once.
TEST(CryptoServiceConcurrency, ThreadsGenerateSealAndEncryptAtOnce)
{
    const CryptoService service;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([&service, &failures, t] {
            const auto key = builtInKey(t % 2 == 0 ? storedKeyText1 : storedKeyText2);
            for (unsigned i = 0; i < 40; ++i) {
                const std::string data = test::patternBytes(17 + i, t * 100 + i);
                if (test::plain(service.decryptWithKey(viewOf(service.encryptWithKey(data, key)), key)) != data) {
                    ++failures;
                }
            }
            const std::string text = test::plain(service.generateKeyText());
            if (text.size() < 768 || text.size() > 1572) {
                ++failures;
            }
            const auto sealed = service.encryptWithPassword("data", "pw");
            if (test::plain(service.decryptWithPassword(viewOf(sealed), "pw")) != "data") {
                ++failures;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
} // namespace quillon::crypto
