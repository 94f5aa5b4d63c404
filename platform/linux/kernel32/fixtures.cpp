#include "fixtures.h"

#include <mutex>

namespace quillon::linux_kernel32 {

namespace {
std::mutex fixtureMutex;
std::optional<testing::VmGenerationCounterFixture> vmGenerationCounter;
std::optional<testing::SystemVolumeFixture> systemVolume;
std::string volumeRootAsked;
} // namespace

std::optional<testing::VmGenerationCounterFixture> vmGenerationCounterFixture()
{
    const std::lock_guard<std::mutex> lock(fixtureMutex);
    return vmGenerationCounter;
}

std::optional<testing::SystemVolumeFixture> systemVolumeFixture()
{
    const std::lock_guard<std::mutex> lock(fixtureMutex);
    return systemVolume;
}

void noteVolumeRootAsked(const std::string& root)
{
    const std::lock_guard<std::mutex> lock(fixtureMutex);
    volumeRootAsked = root;
}

namespace testing {

void setVmGenerationCounter(std::optional<VmGenerationCounterFixture> fixture)
{
    const std::lock_guard<std::mutex> lock(fixtureMutex);
    vmGenerationCounter = fixture;
}

void setSystemVolume(std::optional<SystemVolumeFixture> fixture)
{
    const std::lock_guard<std::mutex> lock(fixtureMutex);
    systemVolume = std::move(fixture);
}

std::string lastVolumeRootAsked()
{
    const std::lock_guard<std::mutex> lock(fixtureMutex);
    return volumeRootAsked;
}

} // namespace testing
} // namespace quillon::linux_kernel32
