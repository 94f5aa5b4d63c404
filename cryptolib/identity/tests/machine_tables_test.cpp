// The Linux WMI layer's view of the machine, read from a sysfs tree made
// here: which disks count, their order and serials, the boot partition and
// the firmware UUID.
#include "seams.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace quillon::identity::testing {
namespace {

namespace fs = std::filesystem;

class MachineTablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::current_path() / ("sysfs-fixture-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "block");
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const fs::path& relative, const std::string& content)
    {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }
    void disk(const std::string& name, const std::string& dev, bool backedByDevice = true)
    {
        write("block/" + name + "/dev", dev + "\n");
        if (backedByDevice) {
            fs::create_directories(root_ / "block" / name / "device");
        }
    }
    void partition(const std::string& diskName, const std::string& name, int number, const std::string& dev)
    {
        write("block/" + diskName + "/" + name + "/partition", std::to_string(number) + "\n");
        write("block/" + diskName + "/" + name + "/dev", dev + "\n");
    }

    fs::path root_;
};

std::u16string textOf(const WmiRow& row, const char16_t* name)
{
    const WmiValue* value = row.find(name);
    return value != nullptr && value->kind == WmiValue::Kind::Text ? value->text : u"<not text>";
}

std::int32_t numberOf(const WmiRow& row, const char16_t* name)
{
    const WmiValue* value = row.find(name);
    return value != nullptr && value->kind == WmiValue::Kind::Number ? value->number : -999;
}

TEST_F(MachineTablesTest, DisksPartitionsAndTheirSerials)
{
    disk("vda", "254:0");
    write("block/vda/serial", "VIRTIO-SERIAL"); // virtio: no line feed
    partition("vda", "vda1", 1, "254:1");
    partition("vda", "vda2", 2, "254:2");
    disk("sda", "8:0");
    const std::string vpd("\x00\x80\x00\x0a  SATA-SN ", 14);
    write("block/sda/device/vpd_pg80", vpd);
    disk("nvme0n1", "259:0");
    write("block/nvme0n1/device/serial", "NVME-SN   \n");
    disk("sdb", "8:16"); // reports no serial
    disk("loop0", "7:0", /*backedByDevice=*/false);
    disk("zram0", "253:0", false);

    const WmiTables tables = linux_com::readMachineTables(root_.string(), linux_com::BlockDeviceNumber{254, 2});
    ASSERT_EQ(tables.diskDrives.size(), 4u) << "loop and zram are no disk drives";
    // In the order of their names: nvme0n1, sda, sdb, vda.
    const std::u16string serials[] = {u"NVME-SN   ", u"  SATA-SN ", u"<not text>", u"VIRTIO-SERIAL"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(numberOf(tables.diskDrives[i], u"Index"), static_cast<std::int32_t>(i));
        EXPECT_EQ(textOf(tables.diskDrives[i], u"SerialNumber"), serials[i]) << i;
    }
    EXPECT_EQ(tables.diskDrives[2].find(u"SerialNumber")->kind, WmiValue::Kind::Null);

    ASSERT_EQ(tables.diskPartitions.size(), 2u);
    EXPECT_EQ(numberOf(tables.diskPartitions[0], u"Index"), 0);
    EXPECT_EQ(numberOf(tables.diskPartitions[1], u"Index"), 1);
    EXPECT_EQ(numberOf(tables.diskPartitions[1], u"DiskIndex"), 3);
    EXPECT_FALSE(tables.diskPartitions[0].find(u"BootPartition")->boolean);
    EXPECT_TRUE(tables.diskPartitions[1].find(u"BootPartition")->boolean);

    EXPECT_TRUE(tables.computerSystemProducts.empty()) << "no DMI data, no row";
}

TEST_F(MachineTablesTest, BootFileSystemOnAWholeDiskIsNoBootPartition)
{
    disk("vda", "254:0");
    partition("vda", "vda1", 1, "254:1");
    const WmiTables tables = linux_com::readMachineTables(root_.string(), linux_com::BlockDeviceNumber{254, 0});
    ASSERT_EQ(tables.diskPartitions.size(), 1u);
    EXPECT_FALSE(tables.diskPartitions[0].find(u"BootPartition")->boolean);
}

TEST_F(MachineTablesTest, FirmwareUuidInUppercaseOrNull)
{
    write("class/dmi/id/product_uuid", "4c4c4544-0042-3510-8051-b2c04f564d32\n");
    WmiTables tables = linux_com::readMachineTables(root_.string(), std::nullopt);
    ASSERT_EQ(tables.computerSystemProducts.size(), 1u);
    EXPECT_EQ(textOf(tables.computerSystemProducts[0], u"UUID"), u"4C4C4544-0042-3510-8051-B2C04F564D32");

    fs::remove(root_ / "class/dmi/id/product_uuid"); // as when it is readable by root only
    tables = linux_com::readMachineTables(root_.string(), std::nullopt);
    ASSERT_EQ(tables.computerSystemProducts.size(), 1u);
    EXPECT_EQ(tables.computerSystemProducts[0].find(u"UUID")->kind, WmiValue::Kind::Null);
}

} // namespace
} // namespace quillon::identity::testing
