// parseLocaleSettings, the reader of the system's locale file, against a
// reader written here that scans each line once from the left; and what
// every result must be, whatever the file holds: NAME=value with a locale
// name and a value of plain characters only, each name once.
#include "fuzz_check.h"
#include "locale_settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using quillon::fuzz::expect;
using quillon::fuzz::bracketed;
using quillon::fuzz::expectEqual;
using Settings = std::vector<std::string>;

bool isPlain(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_'
        || c == '-' || c == '@' || c == ':';
}

bool isLocaleName(std::string_view name)
{
    if (name == "LANG" || name == "LANGUAGE")
        return true;
    if (name.size() < 4 || name.substr(0, 3) != "LC_")
        return false;
    for (const char c : name.substr(3)) {
        if (!((c >= 'A' && c <= 'Z') || c == '_'))
            return false;
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One line: blanks, "export " and blanks, the name up to '=', the value up
// to the end less trailing blanks and CRs, one pair of like quotes around it.
void referenceLine(std::string_view line, Settings& settings)
{
    std::size_t end = line.size();
    while (end > 0 && (isBlank(line[end - 1]) || line[end - 1] == '\r'))
        --end;
    std::size_t at = 0;
    while (at < end && isBlank(line[at]))
        ++at;
    if (end - at >= 7 && line.substr(at, 7) == "export ") {
        at += 7;
        while (at < end && isBlank(line[at]))
            ++at;
    }
    if (at == end || line[at] == '#')
        return;
    std::string name;
    while (at < end && line[at] != '=')
        name.push_back(line[at++]);
    if (at == end)
        return;
    ++at;
    std::string value(line.substr(at, end - at));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    if (!isLocaleName(name) || value.empty())
        return;
    for (const char c : value) {
        if (!isPlain(c))
            return;
    }
    for (std::string& existing : settings) {
        if (existing.size() > name.size() && existing[name.size()] == '=' && existing.compare(0, name.size(), name) == 0) {
            existing = name + "=" + value;
            return;
        }
    }
    settings.push_back(name + "=" + value);
}

Settings referenceParse(std::string_view text)
{
    Settings settings;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n') {
            referenceLine(text.substr(start, i - start), settings);
            start = i + 1;
        }
    }
    return settings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Settings settings = quillon::advapi32::parseLocaleSettings(input);
    const Settings reference = referenceParse(input);
    if (settings != reference)
        expectEqual(bracketed(settings), bracketed(reference), "parseLocaleSettings against the reference");
    std::vector<std::string> names;
    for (const std::string& entry : settings) {
        const std::size_t equals = entry.find('=');
        expect(equals != std::string::npos && isLocaleName(entry.substr(0, equals)), "a setting has a locale name");
        expect(equals + 1 < entry.size(), "a setting has a value");
        for (const char c : entry.substr(equals + 1))
            expect(isPlain(c), "a setting's value is plain");
        for (const std::string& name : names)
            expect(name != entry.substr(0, equals), "each name once");
        names.push_back(entry.substr(0, equals));
    }
    return 0;
}
