// parseConfig, the reader of a service's registry entry, against a reader
// written here as a state machine over single characters; and round trips:
// what parses writes out and reads back the same, and an entry made of the
// input's bytes reads back as written whenever it is an entry at all.
#include "byte_source.h"
#include "fuzz_check.h"
#include "registry_entry.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using quillon::advapi32::ServiceConfig;
using quillon::fuzz::expect;
using quillon::fuzz::expectEqual;

bool isDigit(char c, unsigned base)
{
    if (c >= '0' && c <= '9')
        return true;
    return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

unsigned digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// Decimal digits, or 0x and hex digits; 32 bits; at most 12 characters.
std::optional<std::uint32_t> referenceNumber(const std::string& text)
{
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    unsigned base = 10;
    std::size_t first = 0;
    if (text.size() > 1 && text[0] == '0' && text[1] == 'x') {
        base = 16;
        first = 2;
    }
    if (first == text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        if (!isDigit(text[i], base))
            return std::nullopt;
        value = value * base + digitValue(text[i]);
        if (value > 0xFFFFFFFFULL)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

struct ReferenceEntry {
    std::map<std::string, std::string> fields;
    std::vector<std::string> environment;
};

std::optional<ReferenceEntry> referenceLines(std::string_view text)
{
    enum class State { LineStart, Comment, Key, Value, Escape };
    State state = State::LineStart;
    ReferenceEntry entry;
    std::string key;
    std::string value;
    auto finish = [&]() -> bool {
        if (key == "environment") {
            const std::size_t nameEnd = value.find('=');
            if (nameEnd == 0 || nameEnd == std::string::npos)
                return false;
            entry.environment.push_back(value);
        } else {
            entry.fields[key] = value;
        }
        key.clear();
        value.clear();
        return true;
    };
    for (const char c : text) {
        if (c == '\0')
            return std::nullopt; // nowhere in an entry, not even in a comment
        switch (state) {
        case State::LineStart:
            if (c == '\n')
                break;
            if (c == '#') {
                state = State::Comment;
                break;
            }
            state = State::Key;
            [[fallthrough]];
        case State::Key:
            if (c == '\n')
                return std::nullopt; // a line without '='
            if (c == '=')
                state = State::Value;
            else
                key.push_back(c);
            break;
        case State::Comment:
            if (c == '\n')
                state = State::LineStart;
            break;
        case State::Value:
            if (c == '\n') {
                if (!finish())
                    return std::nullopt;
                state = State::LineStart;
            } else if (c == '\\') {
                state = State::Escape;
            } else {
                value.push_back(c);
            }
            break;
        case State::Escape:
            if (c == '\n') { // a backslash that ends its line stands for itself
                value.push_back('\\');
                if (!finish())
                    return std::nullopt;
                state = State::LineStart;
            } else {
                value.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c);
                state = State::Value;
            }
            break;
        }
    }
    if (state == State::Key)
        return std::nullopt;
    if (state == State::Escape)
        value.push_back('\\');
    if ((state == State::Value || state == State::Escape) && !finish())
        return std::nullopt;
    return entry;
}

std::optional<ServiceConfig> referenceParse(std::string_view text)
{
    const auto entry = referenceLines(text);
    if (!entry)
        return std::nullopt;
    auto get = [&](const char* key) {
        const auto it = entry->fields.find(key);
        return it == entry->fields.end() ? std::string() : it->second;
    };
    auto number = [&](const char* key) -> std::optional<std::uint32_t> {
        const auto it = entry->fields.find(key);
        return it == entry->fields.end() ? std::nullopt : referenceNumber(it->second);
    };
    ServiceConfig c;
    c.name = get("name");
    const auto type = number("type");
    const auto startType = number("startType");
    const auto errorControl = number("errorControl");
    if (c.name.empty() || !type || !startType || !errorControl)
        return std::nullopt;
    c.displayName = get("displayName");
    c.commandLine = get("commandLine");
    c.account = get("account");
    c.description = get("description");
    c.type = *type;
    c.startType = *startType;
    c.errorControl = *errorControl;
    c.markedForDelete = get("markedForDelete") == "1";
    c.environment = entry->environment;
    return c;
}

bool same(const ServiceConfig& a, const ServiceConfig& b)
{
    return a.name == b.name && a.displayName == b.displayName && a.commandLine == b.commandLine
        && a.account == b.account && a.description == b.description && a.type == b.type
        && a.startType == b.startType && a.errorControl == b.errorControl
        && a.markedForDelete == b.markedForDelete && a.environment == b.environment;
}

std::string show(const std::optional<ServiceConfig>& c)
{
    if (!c)
        return "(refused)";
    std::string text = "name=" + c->name + " type=" + std::to_string(c->type) + " startType="
        + std::to_string(c->startType) + " errorControl=" + std::to_string(c->errorControl)
        + " commandLine=" + c->commandLine + " account=" + c->account + " environment:";
    for (const std::string& e : c->environment)
        text += " [" + e + "]";
    return text;
}

void expectSame(const std::optional<ServiceConfig>& library, const std::optional<ServiceConfig>& reference,
                const char* what)
{
    if (library.has_value() != reference.has_value() || (library && !same(*library, *reference)))
        expectEqual(show(library), show(reference), what);
}

// Whether the writer's text of a config is an entry: a name, NAME=value
// environment entries, no NUL in any value.
bool isEntry(const ServiceConfig& c)
{
    if (c.name.empty())
        return false;
    for (const std::string* value : {&c.name, &c.displayName, &c.commandLine, &c.account, &c.description}) {
        if (value->find('\0') != std::string::npos)
            return false;
    }
    for (const std::string& e : c.environment) {
        const std::size_t nameEnd = e.find('=');
        if (nameEnd == 0 || nameEnd == std::string::npos || e.find('\0') != std::string::npos)
            return false;
    }
    return true;
}

ServiceConfig configOf(std::string_view bytes)
{
    quillon::fuzz::ByteSource in(bytes);
    ServiceConfig c;
    c.name = in.text(24);
    c.displayName = in.text(40);
    c.commandLine = in.text(80);
    c.account = in.text(24);
    c.description = in.text(40);
    c.type = in.word();
    c.startType = in.word();
    c.errorControl = in.word();
    c.markedForDelete = (in.byte() & 1) != 0;
    for (std::uint8_t n = in.byte() % 5; n > 0; --n)
        c.environment.push_back(in.text(40));
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace library = quillon::advapi32;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto parsed = library::parseConfig(input);
    expectSame(parsed, referenceParse(input), "parseConfig against the reference reader");
    if (parsed) {
        const std::string written = library::serializeConfig(*parsed);
        const auto again = library::parseConfig(written);
        expectSame(again, parsed, "parseConfig(serializeConfig(entry)) is the entry");
        expectEqual(library::serializeConfig(*again), written, "serializeConfig of a read-back entry is stable");
    }

    const ServiceConfig made = configOf(input);
    const auto back = library::parseConfig(library::serializeConfig(made));
    expect(back.has_value() == isEntry(made), "a written entry reads back exactly when it has a name, "
                                              "NAME=value environment entries and no NUL");
    if (back)
        expectSame(back, made, "parseConfig(serializeConfig(config)) is the config");
    return 0;
}
