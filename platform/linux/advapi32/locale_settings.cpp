#include "locale_settings.h"

namespace quillon::advapi32 {

namespace {
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

void replaceOrAdd(std::vector<std::string>& settings, std::string_view name, std::string_view value)
{
    std::string entry = std::string(name) + "=" + std::string(value);
    for (std::string& existing : settings) {
        if (existing.compare(0, name.size() + 1, entry, 0, name.size() + 1) == 0) {
            existing = std::move(entry);
            return;
        }
    }
    settings.push_back(std::move(entry));
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
        replaceOrAdd(settings, name, value);
    }
    return settings;
}

} // namespace quillon::advapi32
