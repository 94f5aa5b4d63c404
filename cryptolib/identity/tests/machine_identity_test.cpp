// The identity text: the search order of the serial sources, the placeholder
// rules, the text's format, and the COM set-up around the sources.
#include "hardware_sources.h"
#include "machine_identity.h"
#include "seams.h"

#include <cstdlib>
#include <ctime>
#include <vector>

namespace quillon::identity::testing {
namespace {

constexpr char kPlaceholderIdentity[] =
    "42D488F8AF64CB682A985754420991E9BD5BD06994D19C8B67FC884C81F5BFD8Z3317";

// 64 uppercase hexadecimal digits, then "Z" or "D" or neither, then "3317".
bool hasIdentityForm(const std::string& text)
{
    if (text.size() < 68 || text.size() > 69 || text.compare(text.size() - 4, 4, "3317") != 0) {
        return false;
    }
    for (std::size_t i = 0; i < 64; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return text.size() == 68 || text[64] == 'Z' || text[64] == 'D';
}

TEST(Sha256UpperHex, MatchesOpenSsl)
{
    const std::vector<std::string> inputs = {"", "abc", std::string("a\0b\xff", 4), std::string(1000, 'q'),
                                             "GeniusIntelISADUMMYIDMAYBEVM"};
    for (const auto& input : inputs) {
        EXPECT_EQ(sha256UpperHex(input), referenceSha256(input));
    }
    EXPECT_EQ(sha256UpperHex("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

TEST(PlaceholderRules, Table)
{
    const struct {
        std::string vendor, serial;
        std::string expectedVendor, expectedSerial;
        bool placeholderUsed;
    } cases[] = {
        {"AuthenticAMD", "S", "AuthenticAMD", "S", false},
        {"", "S", "GeniusIntel", "S", false},
        {"AuthenticAMD", "", "GeniusIntel", "ISADUMMYIDMAYBEVM", true},
        {"", "", "GeniusIntel", "ISADUMMYIDMAYBEVM", true},
        {"docker", "", "GeniusIntel", "ISADUMMYIDMAYBEVM", true},
        {"GenuineIntel", " ", "GenuineIntel", " ", false},
    };
    for (auto c : cases) {
        const std::string given = c.vendor + "/" + c.serial;
        EXPECT_EQ(applyPlaceholderRules(c.vendor, c.serial), c.placeholderUsed) << given;
        EXPECT_EQ(c.vendor, c.expectedVendor) << given;
        EXPECT_EQ(c.serial, c.expectedSerial) << given;
    }
}

TEST(IdentityFormat, Table)
{
    const struct {
        std::string vendor, serial;
        bool placeholderUsed;
        std::string suffix;
    } cases[] = {
        {"GeniusIntel", "ISADUMMYIDMAYBEVM", true, "Z3317"},
        {"AuthenticAMD", "0000-abcd", false, "3317"},
        {"docker", "0000-abcd", false, "D3317"},
        {"Docker", "0000-abcd", false, "3317"},
        {"docke", "0000-abcd", false, "3317"},
        {"dockerd", "0000-abcd", false, "3317"},
        {" docker", "0000-abcd", false, "3317"},
        {"GenuineIntel", std::string("a\0b", 3), false, "3317"},
    };
    for (const auto& c : cases) {
        const std::string text = formatMachineIdentity(c.vendor, c.serial, c.placeholderUsed);
        EXPECT_EQ(text, referenceSha256(c.vendor + c.serial) + c.suffix) << c.vendor;
        EXPECT_TRUE(hasIdentityForm(text)) << text;
    }
    EXPECT_EQ(formatMachineIdentity("GeniusIntel", "ISADUMMYIDMAYBEVM", true), kPlaceholderIdentity);
}

class IdentitySourcesTest : public SeamTest {
protected:
    // Every source answers unless a case says otherwise.
    struct Machine {
        bool generationCounter = true;
        bool generationReadFails = false;
        std::optional<std::u16string> uuid = u"UUID-TEXT";
        std::optional<std::u16string> bootDiskSerial = u"DISK-SERIAL";
        bool wmiBroken = false;
        std::optional<DWORD> volumeSerial = 0xABCD;
    };

    void use(const Machine& machine)
    {
        if (machine.generationCounter) {
            useGenerationCounter(1, 0, machine.generationReadFails);
        } else {
            linux_kernel32::testing::setVmGenerationCounter(std::nullopt);
        }
        linux_com::testing::WmiFixture fixture;
        if (machine.uuid) {
            fixture.tables.computerSystemProducts = {row(u"UUID", WmiValue::ofText(*machine.uuid))};
        }
        if (machine.bootDiskSerial) {
            fixture.tables.diskPartitions = {partition(0, true)};
            fixture.tables.diskDrives = {drive(0, WmiValue::ofText(*machine.bootDiskSerial))};
        }
        if (machine.wmiBroken) {
            fixture.connectResult = WBEM_E_FAILED;
        }
        useWmi(fixture);
        useVolume(std::string("C:\\Windows"), machine.volumeSerial);
        linux_com::testing::clearExecutedQueries();
    }
};

TEST_F(IdentitySourcesTest, SerialSourcesAreAskedInOrderUntilOneAnswers)
{
    const std::string cpuVendor = readCpuVendor();
    const std::string uuidQuery = "SELECT UUID FROM Win32_ComputerSystemProduct";
    const std::string partitionQuery = "SELECT Index FROM win32_diskpartition where BootPartition=true";
    const std::string driveQuery = "SELECT SerialNumber FROM win32_diskdrive where index=0";
    using Queries = std::vector<std::string>;

    const struct {
        const char* name;
        Machine machine;
        std::string serial;
        Queries queries;
    } cases[] = {
        {"the generation counter comes first", {}, "1:0", {}},
        {"then the system UUID", {false}, "UUID-TEXT", {uuidQuery}},
        {"a failing counter read counts as absent", {true, true}, "UUID-TEXT", {uuidQuery}},
        {"then the boot disk", {false, false, std::nullopt}, "DISK-SERIAL", {uuidQuery, partitionQuery, driveQuery}},
        {"an empty UUID counts as absent", {false, false, u""}, "DISK-SERIAL", {uuidQuery, partitionQuery, driveQuery}},
        {"a UUID of blanks counts as present", {false, false, u"   "}, "   ", {uuidQuery}},
        {"then the volume", {false, false, std::nullopt, std::nullopt}, "0000-abcd",
         {uuidQuery, partitionQuery}},
        {"a broken WMI leads to the volume", {false, false, u"UUID-TEXT", u"DISK-SERIAL", true}, "0000-abcd", {}},
    };
    for (const auto& c : cases) {
        use(c.machine);
        std::string vendor = "stale";
        std::string serial = "stale";
        EXPECT_FALSE(collectIdentitySources(vendor, serial)) << c.name;
        EXPECT_EQ(serial, c.serial) << c.name;
        EXPECT_EQ(vendor, cpuVendor) << c.name;
        EXPECT_EQ(linux_com::testing::executedQueries(), c.queries) << c.name;
    }
}

TEST_F(IdentitySourcesTest, NoSerialAnywhereGivesThePlaceholderIdentity)
{
    use({false, false, std::nullopt, std::nullopt, false, std::nullopt});
    std::string vendor;
    std::string serial;
    EXPECT_TRUE(collectIdentitySources(vendor, serial));
    EXPECT_EQ(vendor, "GeniusIntel");
    EXPECT_EQ(serial, "ISADUMMYIDMAYBEVM");
    EXPECT_EQ(buildMachineIdentity(), kPlaceholderIdentity);
}

TEST_F(IdentitySourcesTest, IdentityHashesVendorAndSerialAndFollowsTheGenerationCounter)
{
    use({});
    const std::string first = buildMachineIdentity();
    EXPECT_EQ(first, referenceSha256(readCpuVendor() + "1:0") + "3317");
    EXPECT_EQ(buildMachineIdentity(), first) << "repeated calls agree";

    useGenerationCounter(2, 0);
    const std::string changed = buildMachineIdentity();
    EXPECT_EQ(changed, referenceSha256(readCpuVendor() + "2:0") + "3317");
    EXPECT_NE(changed, first);
}

TEST_F(IdentitySourcesTest, EachComputationJoinsAndLeavesTheApartmentOnce)
{
    use({false});
    const int before = linux_com::testing::uninitializeCalls();
    buildMachineIdentity();
    EXPECT_EQ(linux_com::testing::uninitializeCalls(), before + 1);
    EXPECT_EQ(linux_com::testing::apartmentDepth(), 0);
}

TEST_F(IdentitySourcesTest, RefusedSecurityStillConsultsTheSources)
{
    for (const HRESULT refusal : {RPC_E_TOO_LATE, E_FAIL, E_OUTOFMEMORY}) {
        use({false});
        linux_com::testing::forceCoInitializeSecurityResult(refusal);
        std::string vendor;
        std::string serial;
        EXPECT_FALSE(collectIdentitySources(vendor, serial));
        EXPECT_EQ(serial, "UUID-TEXT") << std::hex << refusal;
    }
}

TEST_F(IdentitySourcesTest, ThreadInASingleThreadedApartmentStillReadsWmiAndStaysThere)
{
    use({false});
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); // the host's apartment
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    const int before = linux_com::testing::uninitializeCalls();

    std::string vendor;
    std::string serial;
    EXPECT_FALSE(collectIdentitySources(vendor, serial));
    EXPECT_EQ(serial, "UUID-TEXT");
    EXPECT_EQ(linux_com::testing::uninitializeCalls(), before) << "only a successful join is balanced";
    EXPECT_EQ(linux_com::testing::apartmentDepth(), 1);
    CoUninitialize();
}

TEST_F(IdentitySourcesTest, FailedComInitialisationLeavesTheOtherSources)
{
    use({false});
    linux_com::testing::forceCoInitializeExResult(E_OUTOFMEMORY);
    const int before = linux_com::testing::uninitializeCalls();
    std::string vendor;
    std::string serial;
    EXPECT_FALSE(collectIdentitySources(vendor, serial));
    EXPECT_EQ(serial, "0000-abcd") << "without COM the WMI sources yield nothing";
    EXPECT_EQ(linux_com::testing::uninitializeCalls(), before);
}

TEST_F(IdentitySourcesTest, ComputationReseedsTheRuntimeGenerator)
{
    use({});
    const auto before = std::time(nullptr);
    buildMachineIdentity();
    const int drawn = std::rand();
    const auto after = std::time(nullptr);
    bool matched = false;
    for (auto t = before; t <= after && !matched; ++t) {
        std::srand(static_cast<unsigned>(t));
        matched = std::rand() == drawn;
    }
    EXPECT_TRUE(matched);
}

} // namespace
} // namespace quillon::identity::testing
