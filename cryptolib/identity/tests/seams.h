// Fixture helpers for the identity tests: every test starts from the
// machine's own answers and leaves them so.
#pragma once

#include "platform/testing/com_seam.h"
#include "platform/testing/kernel32_seam.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::identity::testing {

using linux_com::WmiRow;
using linux_com::WmiTables;
using linux_com::WmiValue;

class SeamTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // WMI answers from these tables (and these failures).
    void useWmi(const WmiTables& tables);
    void useWmi(const linux_com::testing::WmiFixture& fixture);
    // No WMI row at all, no generation counter, and the volume as given.
    void useVolume(std::optional<std::string> windowsDirectory, std::optional<DWORD> serial);
    void useGenerationCounter(std::uint64_t low, std::uint64_t high, bool readFails = false);
};

// The calling thread in the multithreaded apartment while this lives, as
// the identity computation puts it for the WMI sources.
class InComApartment {
public:
    InComApartment() { EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    ~InComApartment() { CoUninitialize(); }
    InComApartment(const InComApartment&) = delete;
    InComApartment& operator=(const InComApartment&) = delete;
};

WmiRow row(const char16_t* name, WmiValue value);
WmiRow failingNextRow();
WmiRow partition(std::int32_t index, bool boot);
WmiRow drive(std::int32_t index, WmiValue serial);

// SHA-256 in uppercase hexadecimal, by OpenSSL.
std::string referenceSha256(const std::string& bytes);

} // namespace quillon::identity::testing
