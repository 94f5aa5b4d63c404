#include "registry.h"

#include "files.h"
#include "text.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <unistd.h>

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

std::string unescape(const std::string& value)
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

std::optional<DWORD> number(const std::map<std::string, std::string>& fields, const char* key)
{
    const auto it = fields.find(key);
    if (it == fields.end() || it->second.empty())
        return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(it->second.c_str(), &end, 0);
    if (*end != '\0')
        return std::nullopt;
    return static_cast<DWORD>(value);
}

// Removes a folder and the files in it (the run folder holds no subfolders).
void removeFlatDirectory(const std::string& path)
{
    if (DIR* dir = ::opendir(path.c_str()); dir != nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                ::unlink((path + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path.c_str());
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
    return text;
}

std::optional<ServiceConfig> parseConfig(const std::string& text)
{
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return std::nullopt;
        fields[line.substr(0, equals)] = unescape(line.substr(equals + 1));
    }
    ServiceConfig c;
    const auto type = number(fields, "type");
    const auto startType = number(fields, "startType");
    const auto errorControl = number(fields, "errorControl");
    if (fields["name"].empty() || !type || !startType || !errorControl)
        return std::nullopt;
    c.name = fields["name"];
    c.displayName = fields["displayName"];
    c.commandLine = fields["commandLine"];
    c.account = fields["account"];
    c.description = fields["description"];
    c.type = *type;
    c.startType = *startType;
    c.errorControl = *errorControl;
    c.markedForDelete = fields["markedForDelete"] == "1";
    return c;
}

Registry::Registry(std::string stateDir) : stateDir_(std::move(stateDir)) {}

std::string Registry::servicesDir() const
{
    return stateDir_ + "/services";
}

std::string Registry::lockPath() const
{
    return servicesDir() + "/.lock";
}

std::string Registry::entryPath(const std::string& name) const
{
    return servicesDir() + "/" + fileKey(name) + ".conf";
}

std::string Registry::runDir(const std::string& name) const
{
    return stateDir_ + "/run/" + fileKey(name);
}

bool Registry::prepare() const
{
    return makeDirectories(servicesDir(), 0755) && makeDirectories(stateDir_ + "/run", 0755);
}

std::optional<ServiceConfig> Registry::load(const std::string& name) const
{
    const auto text = readFile(entryPath(name));
    if (!text)
        return std::nullopt;
    auto config = parseConfig(*text);
    // Keys of very long names end in a hash: make sure it is this name.
    if (!config || !sameName(config->name, name))
        return std::nullopt;
    return config;
}

std::vector<ServiceConfig> Registry::loadAll() const
{
    std::vector<ServiceConfig> all;
    DIR* dir = ::opendir(servicesDir().c_str());
    if (dir == nullptr)
        return all;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.size() <= 5 || file.compare(file.size() - 5, 5, ".conf") != 0)
            continue;
        if (const auto text = readFile(servicesDir() + "/" + file)) {
            if (auto config = parseConfig(*text))
                all.push_back(std::move(*config));
        }
    }
    ::closedir(dir);
    return all;
}

int Registry::store(const ServiceConfig& config) const
{
    return replaceFile(entryPath(config.name), serializeConfig(config), 0644);
}

void Registry::remove(const std::string& name) const
{
    ::unlink(entryPath(name).c_str());
    clearRunDir(name);
}

void Registry::clearRunDir(const std::string& name) const
{
    removeFlatDirectory(runDir(name));
}

} // namespace quillon::advapi32
