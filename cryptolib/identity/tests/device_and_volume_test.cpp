// The sources that do not use COM: the processor vendor, the generation
// counter device and the system volume.
#include "hardware_sources.h"
#include "seams.h"

#include <fstream>

namespace quillon::identity::testing {
namespace {

class DeviceAndVolumeTest : public SeamTest {};

bool isVolumeSerialText(const std::string& text)
{
    if (text.size() != 9 || text[4] != '-') {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i != 4 && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

TEST_F(DeviceAndVolumeTest, CpuVendorIsWhatTheKernelReports)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string kernelVendor;
    while (std::getline(cpuinfo, line)) {
        const std::string key = "vendor_id\t: ";
        if (line.rfind(key, 0) == 0) {
            kernelVendor = line.substr(key.size());
            break;
        }
    }
    ASSERT_FALSE(kernelVendor.empty()) << "no vendor_id in /proc/cpuinfo";
    EXPECT_EQ(readCpuVendor(), kernelVendor);
}

TEST_F(DeviceAndVolumeTest, NoGenerationCounterDeviceGivesEmptyText)
{
    EXPECT_EQ(readVmGenerationId(), "");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceAndVolumeTest, GenerationIdentifierIsFormattedLowHalfFirst)
{
    const struct {
        std::uint64_t low;
        std::uint64_t high;
        std::string expected;
    } cases[] = {
        {1, 0, "1:0"},
        {0, 0, "0:0"},
        {0x0123456789ABCDEFULL, 0xFEDCBA9876543210ULL, "123456789abcdef:fedcba9876543210"},
        {UINT64_MAX, UINT64_MAX, "ffffffffffffffff:ffffffffffffffff"},
    };
    for (const auto& c : cases) {
        useGenerationCounter(c.low, c.high);
        EXPECT_EQ(readVmGenerationId(), c.expected);
        EXPECT_EQ(linux_kernel32::testing::openDeviceHandles(), 0) << "the handle is closed";
    }
    EXPECT_EQ(formatVmGenerationId({UINT64_MAX, UINT64_MAX}).size(), 33u);
}

TEST_F(DeviceAndVolumeTest, FailingGenerationCounterReadGivesEmptyTextAndClosesTheHandle)
{
    useGenerationCounter(5, 6, /*readFails=*/true);
    EXPECT_EQ(readVmGenerationId(), "");
    EXPECT_EQ(linux_kernel32::testing::openDeviceHandles(), 0);
}

TEST_F(DeviceAndVolumeTest, SystemDriveRootIsTheWindowsDirectorysDrive)
{
    const struct {
        std::optional<std::string> windowsDirectory;
        std::string expected;
    } cases[] = {
        {std::string("C:\\Windows"), "C:\\"},
        {std::string("D:\\WINNT"), "D:\\"},
        {std::string(""), ""},
        {std::nullopt, ""},
        {std::string(300, 'x'), ""}, // longer than the buffer: nothing was written
    };
    for (const auto& c : cases) {
        useVolume(c.windowsDirectory, 0x1234);
        EXPECT_EQ(systemDriveRoot(), c.expected) << c.windowsDirectory.value_or("(failing)");
    }
}

TEST_F(DeviceAndVolumeTest, VolumeSerialIsTwoLowercaseHalves)
{
    const struct {
        DWORD serial;
        std::string expected;
    } cases[] = {
        {0x0000ABCD, "0000-abcd"},
        {0x00000000, "0000-0000"},
        {0xFFFFFFFF, "ffff-ffff"},
        {0x1A2B3C4D, "1a2b-3c4d"},
    };
    for (const auto& c : cases) {
        useVolume(std::string("D:\\Windows"), c.serial);
        EXPECT_EQ(readSystemVolumeSerial(), c.expected);
        EXPECT_EQ(linux_kernel32::testing::lastVolumeRootAsked(), "D:\\");
    }
}

TEST_F(DeviceAndVolumeTest, VolumeSerialIsEmptyWhenAStepFails)
{
    useVolume(std::nullopt, 0x1234);
    EXPECT_EQ(readSystemVolumeSerial(), "");
    useVolume(std::string("C:\\Windows"), std::nullopt);
    EXPECT_EQ(readSystemVolumeSerial(), "");
}

TEST_F(DeviceAndVolumeTest, RootFileSystemGivesTheVolumeSerial)
{
    char directory[MAX_PATH] = {};
    ASSERT_EQ(GetSystemWindowsDirectoryA(directory, MAX_PATH), 10u);
    EXPECT_STREQ(directory, "C:\\Windows");
    EXPECT_TRUE(isVolumeSerialText(readSystemVolumeSerial()));
    EXPECT_FALSE(GetVolumeInformationA("E:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

} // namespace
} // namespace quillon::identity::testing
