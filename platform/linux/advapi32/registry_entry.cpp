#include "registry_entry.h"

#include <cerrno>
#include <cstdlib>
#include <map>

namespace quillon::advapi32 {

namespace {
std::string escape(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string unescape(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : next);
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

// A decimal or 0x number of 32 bits, nothing else. The base is chosen here,
// not by strtoull, for which a leading zero means octal: an administrator's
// "010" would be 8, "08" nothing.
std::optional<DWORD> number(const std::map<std::string, std::string>& fields, const char* key)
{
    const auto it = fields.find(key);
    if (it == fields.end() || it->second.size() > 12)
        return std::nullopt;
    const bool hex = it->second.rfind("0x", 0) == 0;
    const std::string digits = it->second.substr(hex ? 2 : 0);
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || errno != 0 || value > 0xFFFFFFFFULL)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

std::string field(const std::map<std::string, std::string>& fields, const char* key)
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}
} // namespace

std::string serializeConfig(const ServiceConfig& c)
{
    std::string text = "# Quillon service entry; written by the service manager.\n";
    auto line = [&text](const char* key, const std::string& value) {
        text += key;
        text += '=';
        text += escape(value);
        text += '\n';
    };
    line("name", c.name);
    line("displayName", c.displayName);
    line("commandLine", c.commandLine);
    line("type", std::to_string(c.type));
    line("startType", std::to_string(c.startType));
    line("errorControl", std::to_string(c.errorControl));
    line("account", c.account);
    line("description", c.description);
    line("markedForDelete", c.markedForDelete ? "1" : "0");
    for (const std::string& entry : c.environment)
        line("environment", entry);
    return text;
}

std::optional<ServiceConfig> parseConfig(std::string_view text)
{
    // No text the writer makes holds a NUL; in a name, account or command
    // line it would cut off what the C calls see.
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::map<std::string, std::string> fields;
    ServiceConfig c;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        const std::string key(line.substr(0, equals));
        std::string value = unescape(line.substr(equals + 1));
        if (key == "environment") {
            const std::size_t nameEnd = value.find('=');
            if (nameEnd == 0 || nameEnd == std::string::npos)
                return std::nullopt;
            c.environment.push_back(std::move(value));
        } else {
            fields[key] = std::move(value);
        }
    }
    const auto type = number(fields, "type");
    const auto startType = number(fields, "startType");
    const auto errorControl = number(fields, "errorControl");
    c.name = field(fields, "name");
    if (c.name.empty() || !type || !startType || !errorControl)
        return std::nullopt;
    c.displayName = field(fields, "displayName");
    c.commandLine = field(fields, "commandLine");
    c.account = field(fields, "account");
    c.description = field(fields, "description");
    c.type = *type;
    c.startType = *startType;
    c.errorControl = *errorControl;
    c.markedForDelete = field(fields, "markedForDelete") == "1";
    return c;
}

} // namespace quillon::advapi32
