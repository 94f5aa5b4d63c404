// The event log: every entry goes to the system log under the event source's
// name and is appended, one JSON object per line, to the source's file in the
// state directory.
#include "event_log.h"

#include "files.h"
#include "syslog_sink.h"
#include "text.h"

#include "platform/win32_service.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>
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

// Entries of this process that could not be written; the next entry that is
// written says how many were lost before it.
std::atomic<unsigned long long> droppedEntries {0};

// The folder this process writes the event log into: eventlog/ of a state
// directory it owns, else its account's folder there (which root made when
// it started the service). Invalid with errno set when there is none.
Fd logFolder(const StateRoot& root)
{
    if (root.owner == ::geteuid())
        return openEventLogFolder(root);
    const Fd log = openStateFolder(root, "eventlog", false);
    if (!log)
        return Fd();
    const Fd accounts = openFolderAt(log.get(), "accounts", false, 0755, root.owner);
    if (!accounts)
        return Fd();
    const auto self = accountOfUid(::geteuid());
    if (!self) {
        errno = ENOENT;
        return Fd();
    }
    return openFolderAt(accounts.get(), fileKey(self->user), false, 0755, ::geteuid());
}

// Writes the line into the log of this process's user; 0 or the Windows
// error of the failure.
DWORD writeEntry(const StateRoot& root, const std::string& source, const std::string& line)
{
    const Fd folder = logFolder(root);
    if (!folder)
        return errorFromErrno(errno);
    const int error = appendEntry(folder.get(), fileKey(source), line, ::geteuid());
    return errorFromErrno(error);
}

// One entry as a JSON line: each text once, one string as "text", none or
// several as "strings". `joined` gets the texts for the system log.
std::string entryLine(const std::string& source, WORD type, const TypeInfo& info, WORD category,
                      DWORD eventId, const std::vector<std::string>& strings, const std::string& dataHex,
                      unsigned long long dropped, std::string& joined)
{
    std::string texts;
    if (strings.size() == 1) {
        joined = strings[0];
        texts = ",\"text\":" + jsonString(joined);
    } else {
        texts = ",\"strings\":[";
        for (std::size_t i = 0; i < strings.size(); ++i) {
            if (i > 0) {
                joined.push_back('\n');
                texts.push_back(',');
            }
            joined += strings[i];
            texts += jsonString(strings[i]);
        }
        texts.push_back(']');
    }
    return "{\"time\":" + jsonString(utcTimestamp()) + ",\"source\":" + jsonString(source)
           + ",\"type\":" + jsonString(info.name) + ",\"typeCode\":" + std::to_string(type)
           + ",\"category\":" + std::to_string(category) + ",\"eventId\":" + std::to_string(eventId)
           + ",\"pid\":" + std::to_string(::getpid())
           + (dropped > 0 ? ",\"dropped\":" + std::to_string(dropped) : std::string()) + texts
           + ",\"data\":" + jsonString(dataHex) + "}\n";
}

// Sends the entry to the system log and appends it to the state directory's
// log; 0 or the Windows error of the failure, which counts the entry as
// dropped (the next one written says how many were).
DWORD report(const StateRoot* root, const std::string& source, WORD type, WORD category,
             DWORD eventId, const std::vector<std::string>& strings, const std::string& dataHex)
{
    TypeInfo info {};
    typeInfo(type, info);
    const unsigned long long dropped = droppedEntries.exchange(0);
    std::string joined;
    const std::string line = entryLine(source, type, info, category, eventId, strings, dataHex, dropped, joined);
    sendToSystemLog(info.priority, source, joined);
    DWORD error = ERROR_SUCCESS;
    if (line.size() > kEventLogEntryBound)
        error = ERROR_INVALID_PARAMETER;
    else if (!root)
        error = GetLastError();
    else
        error = writeEntry(*root, source, line);
    if (error != ERROR_SUCCESS)
        droppedEntries.fetch_add(dropped + 1);
    return error;
}
} // namespace

void reportManagerEvent(const StateRoot& root, const std::string& source, WORD type, DWORD eventId,
                        const std::string& text)
{
    if (root.owner != ::geteuid())
        return; // only the state directory's owner writes its logs
    report(&root, source, type, 0, eventId, {text}, std::string());
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
    std::vector<std::string> texts;
    for (WORD i = 0; i < numStrings; ++i)
        texts.push_back(toUtf8(strings[i]));
    const auto root = openStateRoot(stateDirectoryPath(), true);
    const DWORD error = report(root ? &*root : nullptr, *name, type, category, eventId, texts,
                               hexBytes(rawData, dataSize));
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
