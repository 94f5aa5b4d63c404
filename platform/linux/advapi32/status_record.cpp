#include "status_record.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillon::advapi32 {

namespace {
constexpr const char kSumField[] = " sum=";

std::uint32_t fnv1a32(std::string_view text)
{
    std::uint32_t hash = 0x811c9dc5U;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x01000193U;
    }
    return hash;
}

// Reads "<key>=<decimal>" at `at`, then the end or one blank and more; advances.
bool readField(std::string_view text, std::size_t& at, std::string_view key, unsigned long long limit,
               unsigned long long& value)
{
    if (text.substr(at, key.size()) != key || at + key.size() >= text.size()
        || text[at + key.size()] != '=')
        return false;
    at += key.size() + 1;
    const std::size_t first = at;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        const unsigned digit = static_cast<unsigned>(text[at] - '0');
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++at;
    }
    if (at == first)
        return false;
    if (at < text.size()) {
        // A blank before the checksum is no record the writer makes.
        if (text[at] != ' ' || at + 1 == text.size())
            return false;
        ++at;
    }
    return true;
}
} // namespace

std::string formatStatusRecord(const PublishedStatus& p)
{
    const SERVICE_STATUS& s = p.status;
    char text[kStatusRecordSize];
    const int length = std::snprintf(
        text, sizeof text,
        "pid=%lld startTime=%llu type=%u state=%u accepted=%u win32ExitCode=%u "
        "serviceExitCode=%u checkPoint=%u waitHint=%u",
        static_cast<long long>(p.process.pid), p.process.startTime, s.dwServiceType, s.dwCurrentState,
        s.dwControlsAccepted, s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint,
        s.dwWaitHint);
    std::string record(text, static_cast<std::size_t>(length));
    char sum[24];
    std::snprintf(sum, sizeof sum, "%s%08x", kSumField, fnv1a32(record));
    record += sum;
    record.resize(kStatusRecordSize - 1, ' ');
    record.push_back('\n');
    return record;
}

std::optional<PublishedStatus> parseStatusRecord(std::string_view text)
{
    if (text.size() != kStatusRecordSize || text.back() != '\n')
        return std::nullopt;
    std::string_view line = text.substr(0, text.size() - 1);
    while (!line.empty() && line.back() == ' ')
        line.remove_suffix(1);
    const std::size_t sumAt = line.rfind(kSumField);
    if (sumAt == std::string_view::npos || line.size() - sumAt != std::strlen(kSumField) + 8)
        return std::nullopt;
    const std::string_view body = line.substr(0, sumAt);
    const std::string sumText(line.substr(sumAt + std::strlen(kSumField)));
    if (sumText.find_first_not_of("0123456789abcdef") != std::string::npos)
        return std::nullopt;
    if (static_cast<std::uint32_t>(std::strtoul(sumText.c_str(), nullptr, 16)) != fnv1a32(body))
        return std::nullopt;

    PublishedStatus p;
    SERVICE_STATUS& s = p.status;
    unsigned long long pid = 0;
    unsigned long long values[8] = {};
    static constexpr std::string_view kKeys[] = {"type",          "state",           "accepted",
                                                 "win32ExitCode", "serviceExitCode", "checkPoint",
                                                 "waitHint"};
    std::size_t at = 0;
    if (!readField(body, at, "pid", 0x7FFFFFFF, pid)
        || !readField(body, at, "startTime", ~0ULL, p.process.startTime))
        return std::nullopt;
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (!readField(body, at, kKeys[i], 0xFFFFFFFFULL, values[i]))
            return std::nullopt;
    }
    if (at != body.size())
        return std::nullopt;
    p.process.pid = static_cast<pid_t>(pid);
    s.dwServiceType = static_cast<DWORD>(values[0]);
    s.dwCurrentState = static_cast<DWORD>(values[1]);
    s.dwControlsAccepted = static_cast<DWORD>(values[2]);
    s.dwWin32ExitCode = static_cast<DWORD>(values[3]);
    s.dwServiceSpecificExitCode = static_cast<DWORD>(values[4]);
    s.dwCheckPoint = static_cast<DWORD>(values[5]);
    s.dwWaitHint = static_cast<DWORD>(values[6]);
    if (s.dwCurrentState < SERVICE_STOPPED || s.dwCurrentState > SERVICE_PAUSED)
        return std::nullopt;
    return p;
}

std::optional<ProcessState> parseProcessStat(std::string_view text)
{
    const std::size_t close = text.rfind(')');
    if (close == std::string_view::npos || text.find('(') > close)
        return std::nullopt;
    // Fields from 3 on, separated by single blanks.
    std::size_t at = close + 1;
    ProcessState result;
    for (int field = 3; field <= 22; ++field) {
        if (at >= text.size() || text[at] != ' ')
            return std::nullopt;
        ++at;
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view value = text.substr(at, end - at);
        if (value.empty())
            return std::nullopt;
        if (field == 3) {
            if (value.size() != 1)
                return std::nullopt;
            result.state = value[0];
        } else if (field == 22) {
            // Past 64 bits strtoull says ULLONG_MAX, which is not this
            // process's start time: refuse instead.
            if (value.size() > 20 || value.find_first_not_of("0123456789") != std::string_view::npos)
                return std::nullopt;
            errno = 0;
            result.startTime = std::strtoull(std::string(value).c_str(), nullptr, 10);
            if (errno == ERANGE)
                return std::nullopt;
        }
        at = end;
    }
    return result;
}

} // namespace quillon::advapi32
