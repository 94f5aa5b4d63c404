#include "hardware_sources.h"
#include "wide_text.h"

#include "platform/win32_base.h"

#include <sstream>

namespace quillon::identity {

namespace {

constexpr DWORD kGenerationCounterRead = 0x32C004; // device 0x32, function 1, buffered, read and write

class DeviceHandle {
public:
    explicit DeviceHandle(HANDLE handle) noexcept : handle_(handle) {}
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    ~DeviceHandle()
    {
        if (isOpen()) {
            CloseHandle(handle_);
        }
    }
    bool isOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

std::uint64_t littleEndian64(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

} // namespace

std::string formatVmGenerationId(const VmGenerationCounterReading& reading)
{
    std::ostringstream text;
    text << std::hex << reading.generationLow << ':' << reading.generationHigh;
    return text.str();
}

std::string readVmGenerationId()
{
    const WideText devicePath = widenAscii("\\\\.\\VmGenerationCounter");
    const DeviceHandle device(CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device.isOpen()) {
        return {};
    }
    unsigned char reading[16] = {};
    DWORD bytesReturned = 0;
    if (!DeviceIoControl(device.get(), kGenerationCounterRead, nullptr, 0, reading, sizeof reading, &bytesReturned,
                         nullptr)) {
        return {};
    }
    return formatVmGenerationId({littleEndian64(reading), littleEndian64(reading + 8)});
}

} // namespace quillon::identity
