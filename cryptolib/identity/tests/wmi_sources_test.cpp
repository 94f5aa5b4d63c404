// The WMI sources and their shared steps, driven through fixture rows.
#include "hardware_sources.h"
#include "seams.h"
#include "wmi_steps.h"

#include <optional>
#include <vector>

namespace quillon::identity::testing {
namespace {

using Kind = WmiValue::Kind;

class WmiSourcesTest : public SeamTest {
protected:
    void SetUp() override
    {
        SeamTest::SetUp();
        apartment_.emplace();
    }
    void TearDown() override
    {
        apartment_.reset();
        SeamTest::TearDown();
    }

    std::optional<InComApartment> apartment_;

    std::string uuidOfRows(std::vector<WmiRow> rows)
    {
        WmiTables tables;
        tables.computerSystemProducts = std::move(rows);
        useWmi(tables);
        return querySystemUuid();
    }
};

struct UuidCase {
    const char* name;
    std::vector<WmiRow> rows;
    std::string expected;
};

TEST_F(WmiSourcesTest, SystemUuidTakesTheLastRowAsText)
{
    const std::vector<UuidCase> cases = {
        {"one text row", {row(u"UUID", WmiValue::ofText(u"4C4C4544-0042-3510-8051-B2C04F564D32"))},
         "4C4C4544-0042-3510-8051-B2C04F564D32"},
        {"no row", {}, ""},
        {"null value", {row(u"UUID", WmiValue::null())}, ""},
        {"last row wins", {row(u"UUID", WmiValue::ofText(u"FIRST")), row(u"UUID", WmiValue::ofText(u"LAST"))}, "LAST"},
        {"last row wins also when null",
         {row(u"UUID", WmiValue::ofText(u"FIRST")), row(u"UUID", WmiValue::null())}, ""},
        {"last row wins also when empty",
         {row(u"UUID", WmiValue::ofText(u"FIRST")), row(u"UUID", WmiValue::ofText(u""))}, ""},
        {"dummy values are taken unchanged",
         {row(u"UUID", WmiValue::ofText(u"FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"))},
         "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"},
        {"a number arrives as its decimal digits", {row(u"UUID", WmiValue::ofNumber(-1234567))}, "-1234567"},
        {"a boolean converts like VariantChangeType does", {row(u"UUID", WmiValue::ofBoolean(true))}, "-1"},
        {"a failing conversion empties only its row",
         {row(u"UUID", WmiValue::ofText(u"KEPT")), row(u"UUID", WmiValue::object())}, ""},
        {"a row after a failing conversion still counts",
         {row(u"UUID", WmiValue::object()), row(u"UUID", WmiValue::ofText(u"AFTER"))}, "AFTER"},
        {"a failing Get ends the source with empty text",
         {row(u"UUID", WmiValue::failingGet()), row(u"UUID", WmiValue::ofText(u"NEVER"))}, ""},
        {"a failing Get drops what was read before",
         {row(u"UUID", WmiValue::ofText(u"READ")), row(u"UUID", WmiValue::failingGet())}, ""},
        {"a failing Next drops what was read before",
         {row(u"UUID", WmiValue::ofText(u"READ")), failingNextRow()}, ""},
        {"a row without the property gives null", {row(u"Name", WmiValue::ofText(u"X"))}, ""},
        {"U+00E9 becomes the byte 0xE9", {row(u"UUID", WmiValue::ofText(u"caf\u00e9"))}, "caf\xe9"},
        {"U+0100 becomes a zero byte inside the text",
         {row(u"UUID", WmiValue::ofText(u"a\u0100b"))}, std::string("a\0b", 3)},
        {"a unit above 8 bits keeps its low byte", {row(u"UUID", WmiValue::ofText(u"\u4e41"))}, "A"},
        {"a zero unit ends the text", {row(u"UUID", WmiValue::ofText(std::u16string(u"ab\0cd", 5)))}, "ab"},
        {"blanks are kept", {row(u"UUID", WmiValue::ofText(u"  "))}, "  "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(uuidOfRows(c.rows), c.expected) << c.name;
    }
}

TEST_F(WmiSourcesTest, SystemUuidSendsItsQuery)
{
    uuidOfRows({});
    EXPECT_EQ(linux_com::testing::executedQueries(),
              std::vector<std::string>{"SELECT UUID FROM Win32_ComputerSystemProduct"});
}

struct BootDiskCase {
    const char* name;
    std::vector<WmiRow> partitions;
    std::vector<WmiRow> drives;
    std::string expected;
};

TEST_F(WmiSourcesTest, BootDiskSerialFollowsTheBootPartitionIndex)
{
    const std::vector<BootDiskCase> cases = {
        {"the partition's own index is taken as the disk index",
         {partition(0, false), partition(1, true)},
         {drive(0, WmiValue::ofText(u"DISK-ZERO")), drive(1, WmiValue::ofText(u"DISK-ONE"))}, "DISK-ONE"},
        {"no drive with that index",
         {partition(1, true)}, {drive(0, WmiValue::ofText(u"DISK-ZERO"))}, ""},
        {"no boot partition", {partition(0, false)}, {drive(0, WmiValue::ofText(u"DISK-ZERO"))}, ""},
        {"two boot partitions: the last listed counts",
         {partition(2, true), partition(0, true)},
         {drive(0, WmiValue::ofText(u"DISK-ZERO")), drive(2, WmiValue::ofText(u"DISK-TWO"))}, "DISK-ZERO"},
        {"leading and trailing blanks are kept",
         {partition(0, true)}, {drive(0, WmiValue::ofText(u"  WD-123  "))}, "  WD-123  "},
        {"a serial of blanks only is kept", {partition(0, true)}, {drive(0, WmiValue::ofText(u"    "))}, "    "},
        {"a null serial", {partition(0, true)}, {drive(0, WmiValue::null())}, ""},
        {"a failing Get on the index ends the source",
         {WmiRow{{{u"Index", WmiValue::failingGet()}, {u"BootPartition", WmiValue::ofBoolean(true)}}, false}},
         {drive(0, WmiValue::ofText(u"DISK-ZERO"))}, ""},
        {"an index that cannot be converted gives no serial",
         {WmiRow{{{u"Index", WmiValue::object()}, {u"BootPartition", WmiValue::ofBoolean(true)}}, false}},
         {drive(0, WmiValue::ofText(u"DISK-ZERO"))}, ""},
        {"a failing Get on the serial ends the source",
         {partition(0, true)}, {drive(0, WmiValue::failingGet())}, ""},
    };
    for (const auto& c : cases) {
        WmiTables tables;
        tables.diskPartitions = c.partitions;
        tables.diskDrives = c.drives;
        useWmi(tables);
        EXPECT_EQ(queryBootDiskSerial(), c.expected) << c.name;
    }
}

TEST_F(WmiSourcesTest, BootDiskSerialAsksForTheDriveWithThePartitionIndex)
{
    WmiTables tables;
    tables.diskPartitions = {partition(3, true)};
    useWmi(tables);
    EXPECT_EQ(queryBootDiskSerial(), "");
    EXPECT_EQ(linux_com::testing::executedQueries(),
              (std::vector<std::string>{"SELECT Index FROM win32_diskpartition where BootPartition=true",
                                        "SELECT SerialNumber FROM win32_diskdrive where index=3"}));

    // Without a boot partition the drives are never asked.
    linux_com::testing::clearExecutedQueries();
    tables.diskPartitions = {partition(0, false)};
    useWmi(tables);
    EXPECT_EQ(queryBootDiskSerial(), "");
    EXPECT_EQ(linux_com::testing::executedQueries().size(), 1u);
}

TEST_F(WmiSourcesTest, AnyFailingComStepEmptiesBothSources)
{
    WmiTables tables;
    tables.computerSystemProducts = {row(u"UUID", WmiValue::ofText(u"UUID-TEXT"))};
    tables.diskPartitions = {partition(0, true)};
    tables.diskDrives = {drive(0, WmiValue::ofText(u"SERIAL"))};
    useWmi(tables);
    ASSERT_EQ(querySystemUuid(), "UUID-TEXT");
    ASSERT_EQ(queryBootDiskSerial(), "SERIAL");

    using Fixture = linux_com::testing::WmiFixture;
    const std::vector<std::pair<const char*, HRESULT Fixture::*>> steps = {
        {"CoCreateInstance", &Fixture::createInstanceResult},
        {"ConnectServer", &Fixture::connectResult},
        {"CoSetProxyBlanket", &Fixture::proxyBlanketResult},
        {"ExecQuery", &Fixture::execQueryResult},
    };
    for (const auto& [step, result] : steps) {
        Fixture fixture;
        fixture.tables = tables;
        fixture.*result = WBEM_E_FAILED;
        useWmi(fixture);
        EXPECT_EQ(querySystemUuid(), "") << step;
        EXPECT_EQ(queryBootDiskSerial(), "") << step;
    }
}

TEST_F(WmiSourcesTest, WithoutComOnTheThreadTheSourcesYieldNothing)
{
    WmiTables tables;
    tables.computerSystemProducts = {row(u"UUID", WmiValue::ofText(u"UUID-TEXT"))};
    useWmi(tables);
    CoUninitialize(); // leave the apartment this test joined
    EXPECT_EQ(querySystemUuid(), "");
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

TEST_F(WmiSourcesTest, QueryLastValueReportsFailuresAsComErrors)
{
    WmiTables tables;
    tables.computerSystemProducts = {row(u"UUID", WmiValue::ofText(u"X"))};
    useWmi(tables);
    ComRef<IWbemServices> services = connectCimv2();
    EXPECT_EQ(queryLastValue(*services, "SELECT UUID FROM Win32_ComputerSystemProduct", "UUID"), "X");
    try {
        queryLastValue(*services, "SELECT * FROM Win32_ComputerSystemProduct", "UUID");
        FAIL() << "an invalid query must throw";
    } catch (const ComError& error) {
        EXPECT_EQ(error.result(), WBEM_E_INVALID_QUERY);
    }
    try {
        queryLastValue(*services, "SELECT UUID FROM Win32_ComputerSystemProduct", "Name");
        FAIL() << "a missing property must throw";
    } catch (const ComError& error) {
        EXPECT_EQ(error.result(), WBEM_E_NOT_FOUND);
    }
}

} // namespace
} // namespace quillon::identity::testing
