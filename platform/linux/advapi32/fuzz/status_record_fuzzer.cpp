// The published-status reader (parseStatusRecord) and the /proc/<pid>/stat
// reader (parseProcessStat) against readers written here that cut the line
// into blank-separated words first. The first byte of an input says what the
// rest is: a record as it is, the body of a record that gets its checksum
// and padding here (so that fuzzing reaches the fields behind the checksum),
// a status that is formatted and read back, a stat line as it is, or a stat
// line built around a command name of the input's bytes.
#include "byte_source.h"
#include "fuzz_check.h"
#include "status_record.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace library = quillon::advapi32;
using quillon::fuzz::expect;
using quillon::fuzz::expectEqual;

std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ' ') {
            out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

// Decimal digits only, at most `limit`: compared as texts, leading zeros
// aside, so that nothing here can overflow.
std::optional<unsigned long long> decimal(std::string_view text, unsigned long long limit)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::size_t first = text.find_first_not_of('0');
    const std::string_view digits = first == std::string_view::npos ? std::string_view("0") : text.substr(first);
    const std::string most = std::to_string(limit);
    if (digits.size() > most.size() || (digits.size() == most.size() && digits > most))
        return std::nullopt;
    unsigned long long value = 0;
    for (const char c : digits)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value;
}

std::uint32_t checksum(std::string_view text)
{
    std::uint32_t hash = 2166136261U;
    for (const unsigned char c : text)
        hash = (hash ^ c) * 16777619U;
    return hash;
}

// The record's fields in their order, single blanks between, nothing else.
std::optional<library::PublishedStatus> referenceRecord(std::string_view text)
{
    if (text.size() != 256 || text[255] != '\n')
        return std::nullopt;
    std::string_view line = text.substr(0, 255);
    const std::size_t last = line.find_last_not_of(' ');
    line = line.substr(0, last == std::string_view::npos ? 0 : last + 1);
    if (line.size() < 13 || line.substr(line.size() - 13, 5) != " sum=")
        return std::nullopt;
    const std::string_view sum = line.substr(line.size() - 8);
    const std::string_view body = line.substr(0, line.size() - 13);
    std::uint32_t expected = 0;
    for (const char c : sum) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit && !(c >= 'a' && c <= 'f'))
            return std::nullopt;
        expected = expected * 16 + static_cast<std::uint32_t>(digit ? c - '0' : c - 'a' + 10);
    }
    if (expected != checksum(body))
        return std::nullopt;

    static const char* const keys[] = {"pid",           "startTime",       "type",       "state",   "accepted",
                                       "win32ExitCode", "serviceExitCode", "checkPoint", "waitHint"};
    const auto fields = words(body);
    if (fields.size() != 9)
        return std::nullopt;
    unsigned long long values[9] = {};
    for (std::size_t i = 0; i < 9; ++i) {
        const std::string prefix = std::string(keys[i]) + "=";
        if (fields[i].substr(0, prefix.size()) != prefix)
            return std::nullopt;
        const unsigned long long limit = i == 0 ? 0x7FFFFFFFULL : i == 1 ? ~0ULL : 0xFFFFFFFFULL;
        const auto value = decimal(fields[i].substr(prefix.size()), limit);
        if (!value)
            return std::nullopt;
        values[i] = *value;
    }
    if (values[3] < 1 || values[3] > 7) // SERVICE_STOPPED .. SERVICE_PAUSED
        return std::nullopt;
    library::PublishedStatus p;
    p.process.pid = static_cast<pid_t>(values[0]);
    p.process.startTime = values[1];
    DWORD* status[] = {&p.status.dwServiceType,      &p.status.dwCurrentState,
                       &p.status.dwControlsAccepted, &p.status.dwWin32ExitCode,
                       &p.status.dwServiceSpecificExitCode, &p.status.dwCheckPoint,
                       &p.status.dwWaitHint};
    for (std::size_t i = 0; i < 7; ++i)
        *status[i] = static_cast<DWORD>(values[i + 2]);
    return p;
}

bool same(const library::PublishedStatus& a, const library::PublishedStatus& b)
{
    const SERVICE_STATUS& s = a.status;
    const SERVICE_STATUS& t = b.status;
    return a.process.pid == b.process.pid && a.process.startTime == b.process.startTime
        && s.dwServiceType == t.dwServiceType && s.dwCurrentState == t.dwCurrentState
        && s.dwControlsAccepted == t.dwControlsAccepted && s.dwWin32ExitCode == t.dwWin32ExitCode
        && s.dwServiceSpecificExitCode == t.dwServiceSpecificExitCode && s.dwCheckPoint == t.dwCheckPoint
        && s.dwWaitHint == t.dwWaitHint;
}

void checkRecord(std::string_view text)
{
    const auto parsed = library::parseStatusRecord(text);
    const auto reference = referenceRecord(text);
    if (parsed.has_value() != reference.has_value() || (parsed && !same(*parsed, *reference))) {
        quillon::fuzz::printBytes("record", text);
        expectEqual(parsed ? "read" : "refused", reference ? "read" : "refused",
                    "parseStatusRecord against the reference");
        expect(false, "parseStatusRecord against the reference: other values");
    }
    if (parsed) {
        const auto again = library::parseStatusRecord(library::formatStatusRecord(*parsed));
        expect(again && same(*again, *parsed), "parseStatusRecord(formatStatusRecord(status)) is the status");
    }
}

void checkFormatted(std::string_view bytes)
{
    quillon::fuzz::ByteSource in(bytes);
    library::PublishedStatus p;
    p.process.pid = static_cast<pid_t>(in.word());
    p.process.startTime = in.wide();
    p.status.dwServiceType = in.word();
    p.status.dwCurrentState = (in.byte() & 1) ? in.word() : 1 + in.byte() % 7;
    p.status.dwControlsAccepted = in.word();
    p.status.dwWin32ExitCode = in.word();
    p.status.dwServiceSpecificExitCode = in.word();
    p.status.dwCheckPoint = in.word();
    p.status.dwWaitHint = in.word();
    const std::string record = library::formatStatusRecord(p);
    expect(record.size() == library::kStatusRecordSize && record.back() == '\n', "a record is 256 bytes");
    const auto back = library::parseStatusRecord(record);
    const bool valid = p.process.pid >= 0 && p.status.dwCurrentState >= 1 && p.status.dwCurrentState <= 7;
    expect(back.has_value() == valid, "a formatted status reads back exactly when its pid and state are valid");
    if (back)
        expect(same(*back, p), "parseStatusRecord(formatStatusRecord(status)) is the status");
    checkRecord(record);
}

// State (field 3) and start time (field 22) after the last ')'.
std::optional<library::ProcessState> referenceStat(std::string_view text)
{
    const std::size_t close = text.find_last_of(')');
    if (close == std::string_view::npos || text.substr(0, close).find('(') == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = text.substr(close + 1);
    if (rest.empty() || rest[0] != ' ')
        return std::nullopt;
    const auto fields = words(rest.substr(1)); // fields[0] is field 3
    if (fields.size() < 20)
        return std::nullopt;
    for (std::size_t i = 0; i < 20; ++i) {
        if (fields[i].empty())
            return std::nullopt;
    }
    if (fields[0].size() != 1)
        return std::nullopt;
    // At most the 20 digits of the longest 64-bit number, as the kernel
    // writes it: no run of leading zeros makes a longer one.
    const auto start = fields[19].size() > 20 ? std::nullopt : decimal(fields[19], ~0ULL);
    if (!start)
        return std::nullopt;
    return library::ProcessState {fields[0][0], *start};
}

void checkStat(std::string_view text)
{
    const auto parsed = library::parseProcessStat(text);
    const auto reference = referenceStat(text);
    if (parsed.has_value() != reference.has_value()
        || (parsed && (parsed->state != reference->state || parsed->startTime != reference->startTime))) {
        quillon::fuzz::printBytes("stat line", text);
        expectEqual(parsed ? std::to_string(parsed->startTime) : "refused",
                    reference ? std::to_string(reference->startTime) : "refused",
                    "parseProcessStat against the reference");
        expect(false, "parseProcessStat against the reference: other state");
    }
}

void checkBuiltStat(std::string_view bytes)
{
    quillon::fuzz::ByteSource in(bytes);
    const std::uint32_t pid = in.word();
    const std::string name = in.text(40); // what a process may call itself, ')' and blanks included
    const char state = "RSDZTtWXxKPI"[in.byte() % 12];
    std::string line = std::to_string(pid) + " (" + name + ") " + state;
    for (int field = 4; field <= 21; ++field)
        line += " " + std::to_string(static_cast<std::int32_t>(in.word()));
    const unsigned long long start = in.wide();
    line += " " + std::to_string(start);
    for (int n = 1 + in.byte() % 4; n > 0; --n) // the kernel writes 52 fields
        line += " " + std::to_string(in.word());
    line += "\n";
    const auto parsed = library::parseProcessStat(line);
    expect(parsed && parsed->state == state && parsed->startTime == start,
           "parseProcessStat of a stat line reads its state and start time");
    checkStat(line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        checkRecord(rest);
        break;
    case 1: {
        std::string record(rest.substr(0, 200));
        char sum[16];
        std::snprintf(sum, sizeof sum, " sum=%08x", static_cast<unsigned>(checksum(record)));
        record += sum;
        record.resize(255, ' ');
        record += '\n';
        checkRecord(record);
        break;
    }
    case 2:
        checkFormatted(rest);
        break;
    case 3:
        checkStat(rest);
        break;
    default:
        checkBuiltStat(rest);
        break;
    }
    return 0;
}
