// Several threads computing the identity at once: each joins COM for its own
// call and works on its own COM objects and handles.
#include "hardware_sources.h"
#include "machine_identity.h"

#include "platform/testing/com_seam.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quillon::identity {
namespace {

std::vector<std::string> identitiesFromThreads(unsigned threadCount, unsigned callsEach)
{
    std::vector<std::string> texts(threadCount * callsEach);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < threadCount; ++t) {
        threads.emplace_back([&texts, t, callsEach] {
            for (unsigned i = 0; i < callsEach; ++i) {
                texts[t * callsEach + i] = buildMachineIdentity();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return texts;
}

TEST(IdentityConcurrency, ThreadsOnThisMachineAgree)
{
    const std::string expected = buildMachineIdentity();
    for (const std::string& text : identitiesFromThreads(4, 10)) {
        EXPECT_EQ(text, expected);
    }
}

TEST(IdentityConcurrency, ThreadsReadingWmiAtOnceAgree)
{
    linux_com::testing::WmiFixture fixture;
    fixture.tables.computerSystemProducts = {
        linux_com::WmiRow{{{u"UUID", linux_com::WmiValue::ofText(u"0E0E0E0E-1111-2222-3333-444444444444")}}, false}};
    linux_com::testing::setWmiFixture(fixture);
    const std::string expected = formatMachineIdentity(readCpuVendor(), "0E0E0E0E-1111-2222-3333-444444444444", false);
    for (const std::string& text : identitiesFromThreads(4, 10)) {
        EXPECT_EQ(text, expected);
    }
    linux_com::testing::setWmiFixture(std::nullopt);
}

} // namespace
} // namespace quillon::identity
