#include "seams.h"

#include <openssl/sha.h>

#include <cstdio>

namespace quillon::identity::testing {

void SeamTest::SetUp()
{
    linux_com::testing::clearExecutedQueries();
}

void SeamTest::TearDown()
{
    linux_com::testing::setWmiFixture(std::nullopt);
    linux_com::testing::forceCoInitializeExResult(std::nullopt);
    linux_com::testing::forceCoInitializeSecurityResult(std::nullopt);
    linux_kernel32::testing::setVmGenerationCounter(std::nullopt);
    linux_kernel32::testing::setSystemVolume(std::nullopt);
    EXPECT_EQ(linux_kernel32::testing::openDeviceHandles(), 0);
    EXPECT_EQ(linux_com::testing::apartmentDepth(), 0);
}

void SeamTest::useWmi(const WmiTables& tables)
{
    linux_com::testing::WmiFixture fixture;
    fixture.tables = tables;
    useWmi(fixture);
}

void SeamTest::useWmi(const linux_com::testing::WmiFixture& fixture)
{
    linux_com::testing::setWmiFixture(fixture);
}

void SeamTest::useVolume(std::optional<std::string> windowsDirectory, std::optional<DWORD> serial)
{
    linux_kernel32::testing::setSystemVolume(linux_kernel32::testing::SystemVolumeFixture{windowsDirectory, serial});
}

void SeamTest::useGenerationCounter(std::uint64_t low, std::uint64_t high, bool readFails)
{
    linux_kernel32::testing::setVmGenerationCounter(
        linux_kernel32::testing::VmGenerationCounterFixture{low, high, readFails});
}

WmiRow row(const char16_t* name, WmiValue value)
{
    return WmiRow{{{name, std::move(value)}}, false};
}

WmiRow failingNextRow()
{
    return WmiRow{{}, true};
}

WmiRow partition(std::int32_t index, bool boot)
{
    return WmiRow{{{u"Index", WmiValue::ofNumber(index)}, {u"BootPartition", WmiValue::ofBoolean(boot)}}, false};
}

WmiRow drive(std::int32_t index, WmiValue serial)
{
    return WmiRow{{{u"Index", WmiValue::ofNumber(index)}, {u"SerialNumber", std::move(serial)}}, false};
}

std::string referenceSha256(const std::string& bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    std::string hex;
    char pair[3];
    for (const unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        hex += pair;
    }
    return hex;
}

} // namespace quillon::identity::testing
