#include "service_environment.h"

#include "files.h"
#include "wire_messages.h"

#include <cstdlib>
#include <fcntl.h>

namespace quillon::advapi32 {

namespace {
constexpr std::size_t kMaxLocaleFile = 64 * 1024;

bool isLocaleName(std::string_view name)
{
    if (name == "LANG" || name == "LANGUAGE")
        return true;
    if (name.substr(0, 3) != "LC_" || name.size() == 3)
        return false;
    return name.find_first_not_of("LC_ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

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

std::vector<std::string> parseLocaleSettings(std::string_view text)
{
    std::vector<std::string> settings;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.substr(0, 7) == "export ")
            line = trimmed(line.substr(7));
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        // Locale names are plain: anything else is no setting of ours.
        if (!isLocaleName(name) || value.empty()
            || value.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-@:")
                   != std::string_view::npos)
            continue;
        set(settings, std::string(name) + "=" + std::string(value));
    }
    return settings;
}

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
