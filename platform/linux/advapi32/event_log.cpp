// The event log: every entry goes to the system log under the event source's
// name and is appended, one JSON object per line, to the source's file in the
// state directory.
#include "event_log.h"

#include "files.h"
#include "syslog_sink.h"
#include "text.h"

#include "platform/win32_service.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace quillon::advapi32 {

namespace {
constexpr DWORD kRpcServerUnavailable = 1722;

struct EventSource {
    std::string name;
};

std::mutex sourcesMutex;
std::set<EventSource*> liveSources; // guarded by sourcesMutex

std::optional<std::string> liveSourceName(EventSource* source)
{
    std::lock_guard<std::mutex> lock(sourcesMutex);
    if (liveSources.count(source) == 0)
        return std::nullopt;
    return source->name;
}

struct TypeInfo {
    const char* name;
    int priority;
};

bool typeInfo(WORD type, TypeInfo& info)
{
    switch (type) {
    case EVENTLOG_SUCCESS: info = {"success", LOG_NOTICE}; return true;
    case EVENTLOG_ERROR_TYPE: info = {"error", LOG_ERR}; return true;
    case EVENTLOG_WARNING_TYPE: info = {"warning", LOG_WARNING}; return true;
    case EVENTLOG_INFORMATION_TYPE: info = {"information", LOG_INFO}; return true;
    case EVENTLOG_AUDIT_SUCCESS: info = {"auditSuccess", LOG_NOTICE}; return true;
    case EVENTLOG_AUDIT_FAILURE: info = {"auditFailure", LOG_WARNING}; return true;
    default: return false;
    }
}

std::string utcTimestamp()
{
    const auto now = std::chrono::system_clock::now();
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc {};
    ::gmtime_r(&seconds, &utc);
    char stamp[40];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + length, sizeof stamp - length, ".%06lldZ",
                  static_cast<long long>(micros % 1000000));
    return stamp;
}

// Appends one line with a single write under an exclusive lock, so entries
// of concurrent writers never interleave. Returns 0 or an errno value.
int appendLine(const std::string& path, const std::string& line)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return error;
        }
    }
    int result = 0;
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result = errno;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return result;
}
} // namespace

std::string eventLogPath(const std::string& source)
{
    const std::string state = stateDirectory();
    if (state.empty())
        return {};
    const std::string dir = state + "/eventlog";
    // Services that run under an account write their own entries: the
    // folder is open to all like /tmp, each file stays its writer's.
    if (!makeDirectories(dir, ::geteuid() == 0 ? 01777 : 0755)) {
        SetLastError(errorFromErrno(errno));
        return {};
    }
    return dir + "/" + fileKey(source) + ".jsonl";
}

} // namespace quillon::advapi32

using namespace quillon::advapi32;

extern "C" HANDLE WINAPI RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName)
{
    if (!isLocalMachine(serverName)) {
        SetLastError(kRpcServerUnavailable);
        return nullptr;
    }
    if (sourceName == nullptr || sourceName[0] == u'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto source = std::make_unique<EventSource>();
    source->name = toUtf8(sourceName);
    std::lock_guard<std::mutex> lock(sourcesMutex);
    liveSources.insert(source.get());
    return source.release();
}

extern "C" BOOL WINAPI DeregisterEventSource(HANDLE eventLog)
{
    auto* source = static_cast<EventSource*>(eventLog);
    {
        std::lock_guard<std::mutex> lock(sourcesMutex);
        if (liveSources.erase(source) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete source;
    return TRUE;
}

extern "C" BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId,
                                    PSID /*userSid*/, WORD numStrings, DWORD dataSize,
                                    LPCWSTR* strings, LPVOID rawData)
{
    auto* source = static_cast<EventSource*>(eventLog);
    const std::optional<std::string> name = liveSourceName(source);
    if (!name) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    TypeInfo info {};
    if (!typeInfo(type, info) || (numStrings > 0 && strings == nullptr)
        || (dataSize > 0 && rawData == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& sourceName = *name;

    std::string text;
    std::string stringArray = "[";
    for (WORD i = 0; i < numStrings; ++i) {
        const std::string one = toUtf8(strings[i]);
        if (i > 0) {
            text.push_back('\n');
            stringArray.push_back(',');
        }
        text += one;
        stringArray += jsonString(one);
    }
    stringArray.push_back(']');

    std::string line = "{\"time\":" + jsonString(utcTimestamp()) + ",\"source\":"
                       + jsonString(sourceName) + ",\"type\":" + jsonString(info.name)
                       + ",\"typeCode\":" + std::to_string(type)
                       + ",\"category\":" + std::to_string(category)
                       + ",\"eventId\":" + std::to_string(eventId)
                       + ",\"pid\":" + std::to_string(::getpid()) + ",\"text\":" + jsonString(text)
                       + ",\"strings\":" + stringArray + ",\"data\":"
                       + jsonString(hexBytes(rawData, dataSize)) + "}\n";

    sendToSystemLog(info.priority, sourceName, text);

    const std::string path = eventLogPath(sourceName);
    if (path.empty())
        return FALSE; // last error set
    if (const int error = appendLine(path, line); error != 0) {
        SetLastError(errorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}
