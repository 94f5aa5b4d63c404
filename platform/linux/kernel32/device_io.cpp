// CreateFileW, DeviceIoControl and CloseHandle for the one device the system
// asks for: the virtual machine generation counter. Linux offers programs no
// such device, so on a real machine the open fails exactly as it does on a
// Windows machine without it; a test fixture can stand in for the device.
#include "fixtures.h"
#include "platform/win32_base.h"

#include <memory>
#include <mutex>
#include <set>
#include <string_view>

namespace {

constexpr DWORD kVmGenerationCounterRead = 0x32C004;
constexpr std::size_t kReadingSize = 16;

// An open device: the fixture as it stood when the device was opened.
struct DeviceHandle {
    quillon::linux_kernel32::testing::VmGenerationCounterFixture device;
};

std::mutex handleMutex;
std::set<DeviceHandle*> openHandles;

bool isGenerationCounterPath(LPCWSTR path)
{
    static constexpr std::string_view kDevicePath = "\\\\.\\VmGenerationCounter";
    std::size_t i = 0;
    for (; path[i] != 0; ++i) {
        if (i >= kDevicePath.size()) {
            return false;
        }
        const char16_t unit = path[i];
        const char16_t folded = (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
        char expected = kDevicePath[i];
        if (expected >= 'A' && expected <= 'Z') {
            expected = static_cast<char>(expected + 32);
        }
        if (folded != static_cast<char16_t>(static_cast<unsigned char>(expected))) {
            return false;
        }
    }
    return i == kDevicePath.size();
}

DeviceHandle* findHandle(HANDLE handle)
{
    auto* device = static_cast<DeviceHandle*>(handle);
    return openHandles.count(device) != 0 ? device : nullptr;
}

void storeLittleEndian(unsigned char* out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

} // namespace

extern "C" HANDLE CreateFileW(LPCWSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto fixture = quillon::linux_kernel32::vmGenerationCounterFixture();
    if (!fixture || !isGenerationCounterPath(fileName)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_unique<DeviceHandle>(DeviceHandle{*fixture});
    const std::lock_guard<std::mutex> lock(handleMutex);
    openHandles.insert(device.get());
    SetLastError(ERROR_SUCCESS);
    return device.release();
}

extern "C" BOOL DeviceIoControl(HANDLE handle, DWORD ioControlCode, LPVOID, DWORD, LPVOID outBuffer,
                                DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED)
{
    quillon::linux_kernel32::testing::VmGenerationCounterFixture device;
    {
        const std::lock_guard<std::mutex> lock(handleMutex);
        const DeviceHandle* open = findHandle(handle);
        if (open == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        device = open->device;
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    if (ioControlCode != kVmGenerationCounterRead || device.readFails) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (outBuffer == nullptr || outBufferSize < kReadingSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* out = static_cast<unsigned char*>(outBuffer);
    storeLittleEndian(out, device.generationLow);
    storeLittleEndian(out + 8, device.generationHigh);
    if (bytesReturned != nullptr) {
        *bytesReturned = kReadingSize;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL CloseHandle(HANDLE handle)
{
    std::unique_ptr<DeviceHandle> device;
    {
        const std::lock_guard<std::mutex> lock(handleMutex);
        DeviceHandle* open = findHandle(handle);
        if (open == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        openHandles.erase(open);
        device.reset(open);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

#ifdef QUILLON_KERNEL32_FIXTURES
namespace quillon::linux_kernel32::testing {

int openDeviceHandles()
{
    const std::lock_guard<std::mutex> lock(handleMutex);
    return static_cast<int>(openHandles.size());
}

} // namespace quillon::linux_kernel32::testing
#endif
