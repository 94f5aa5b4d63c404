#include "machine_identity.h"

#include "hardware_sources.h"

#include "platform/win32_com.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace quillon::identity {

namespace {

// The calling thread in the multithreaded apartment for the WMI sources. A
// thread that already belongs to a single-threaded apartment is refused
// (RPC_E_CHANGED_MODE) but can use COM all the same; only a successful join
// is balanced by CoUninitialize.
class ComApartment {
public:
    ComApartment() noexcept : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment()
    {
        if (joined_) {
            CoUninitialize();
        }
    }

private:
    bool joined_;
};

} // namespace

std::string readFirstMachineSerial()
{
    const ComApartment apartment;
    // Refused with RPC_E_TOO_LATE once security is set for the process (by an
    // earlier call, or by the host first); the settings in force then serve the
    // sources as well. Any other refusal leaves the defaults, which serve them
    // too. Either way the search goes on.
    static_cast<void>(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr));

    for (const auto source : {readVmGenerationId, querySystemUuid, queryBootDiskSerial, readSystemVolumeSerial}) {
        std::string serial = source();
        if (!serial.empty()) {
            return serial;
        }
    }
    return {};
}

bool applyPlaceholderRules(std::string& vendor, std::string& serial)
{
    bool placeholderUsed = false;
    if (serial.empty()) {
        serial = kPlaceholderSerial;
        vendor = kPlaceholderVendor;
        placeholderUsed = true;
    }
    if (vendor.empty()) {
        vendor = kPlaceholderVendor;
    }
    return placeholderUsed;
}

bool collectIdentitySources(std::string& vendor, std::string& serial)
{
    vendor = readCpuVendor();
    serial = readFirstMachineSerial();
    return applyPlaceholderRules(vendor, serial);
}

std::string formatMachineIdentity(const std::string& vendor, const std::string& serial, bool placeholderUsed)
{
    std::string text = sha256UpperHex(vendor + serial);
    if (placeholderUsed) {
        text += 'Z';
    }
    if (vendor == "docker") {
        text += 'D';
    }
    return text + "3317";
}

std::string buildMachineIdentity() noexcept
{
    try {
        // Key generation draws its text lengths from this generator; every
        // identity computation reseeds it, as the library's load does.
        std::srand(static_cast<unsigned>(static_cast<std::uint32_t>(std::time(nullptr))));
        std::string vendor;
        std::string serial;
        const bool placeholderUsed = collectIdentitySources(vendor, serial);
        return formatMachineIdentity(vendor, serial, placeholderUsed);
    } catch (...) {
        return {};
    }
}

} // namespace quillon::identity
