#include "service_environment.h"

#include "files.h"
#include "locale_settings.h"
#include "wire_messages.h"

#include <cstdlib>
#include <fcntl.h>

namespace quillon::advapi32 {

namespace {
constexpr std::size_t kMaxLocaleFile = 64 * 1024;

// Replaces or adds NAME=value.
void set(std::vector<std::string>& environment, const std::string& entry)
{
    const std::string name = entry.substr(0, entry.find('=') + 1);
    for (std::string& existing : environment) {
        if (existing.compare(0, name.size(), name) == 0) {
            existing = entry;
            return;
        }
    }
    environment.push_back(entry);
}
} // namespace

std::vector<std::string> systemLocale()
{
    for (const char* path : {"/etc/default/locale", "/etc/locale.conf"}) {
        if (const auto text = readFileAt(AT_FDCWD, path, kMaxLocaleFile, 0)) {
            auto settings = parseLocaleSettings(*text);
            if (!settings.empty())
                return settings;
        }
    }
    return {"LANG=C.UTF-8"};
}

std::vector<std::string> serviceEnvironment(const Account& account, const std::string& stateDir,
                                            int channel, const std::vector<std::string>& configured)
{
    std::vector<std::string> environment = {
        std::string("PATH=") + kServicePath,
        "HOME=" + account.home,
        "USER=" + account.user,
        "LOGNAME=" + account.user,
        "SHELL=" + account.shell,
    };
    for (const std::string& setting : systemLocale())
        set(environment, setting);
#ifdef QUILLON_SANITIZER_BUILD
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name); value != nullptr)
            set(environment, std::string(name) + "=" + value);
    }
#endif
    for (const std::string& entry : configured)
        set(environment, entry);
    // Last, so that no entry can change where the service reports.
    set(environment, "QUILLON_STATE_DIR=" + stateDir);
    set(environment, std::string(kChannelVariable) + "=" + std::to_string(channel));
    return environment;
}

} // namespace quillon::advapi32
