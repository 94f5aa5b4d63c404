// A stand-in for the service manager and event log, loaded in place of the
// real layer where a test must see every call or needs a failure the real
// layer cannot be made to produce: a dispatcher failing with any code,
// RegisterServiceCtrlHandlerW failing, the exact arguments of each call.
// It keeps Windows' rules: access rights per handle, controls refused when
// not accepted or the service is not active or pending (our service
// manager's rule, control_rules.cpp, linked in), the dispatcher calling the
// service main on a thread of its own and every control handler on the
// dispatcher's thread, and the dispatcher returning once SERVICE_STOPPED
// was reported.
#pragma once

#include "platform/win32_service.h"

#include <string>
#include <vector>

#define FAKE_SCM_API __attribute__((visibility("default")))

namespace fakescm {

struct ServiceRecord {
    std::u16string name;
    std::u16string displayName;
    std::u16string binaryPath;
    bool hasAccount = false;
    std::u16string account;
    bool hasPassword = false;
    std::u16string password;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::u16string description;
    SERVICE_STATUS status{};
    std::vector<DWORD> controlsReceived;
    std::vector<std::vector<std::u16string>> startRequests;
    // For services run elsewhere: how many status queries after a stop
    // control still read stop-pending; -1 for a service that never stops.
    int queriesUntilStopped = 0;
};

struct EventEntry {
    std::u16string source;
    WORD type = 0;
    WORD category = 0;
    DWORD eventId = 0;
    std::vector<std::u16string> strings;
    DWORD dataSize = 0;
    bool dataPointerNull = true;
    std::vector<unsigned char> data;
};

struct OpenRecord {
    bool manager = false;
    DWORD access = 0;
};

FAKE_SCM_API void reset();

// A service installed and run by another process, in the given state.
FAKE_SCM_API void addService(const std::u16string& name, DWORD state, DWORD controlsAccepted);
FAKE_SCM_API bool findService(const std::u16string& name, ServiceRecord* record);
FAKE_SCM_API void setQueriesUntilStopped(const std::u16string& name, int queries);

// The dispatcher: 0 behaves as in a process the manager started; any other
// value makes StartServiceCtrlDispatcherW fail with that code.
FAKE_SCM_API void setDispatcherFailure(DWORD error);
// The arguments the manager hands to the service main after the name.
FAKE_SCM_API void setStartArguments(const std::vector<std::u16string>& arguments);
FAKE_SCM_API void setRegisterHandlerFails(bool fails);
FAKE_SCM_API bool registerHandlerAttempted();
FAKE_SCM_API void setEventSourceFails(bool fails);

// Every status the service in this process reported, in order.
FAKE_SCM_API std::vector<SERVICE_STATUS> reportedStatuses();
// Waits until the service in this process reported the given state the
// given number of times.
FAKE_SCM_API bool waitForReportedState(DWORD state, int timeoutMs, int times = 1);
// Has the dispatcher thread call the handler with any control, as the
// system does for shutdown, and waits until the handler returned.
FAKE_SCM_API bool deliverControl(DWORD control, int timeoutMs);

FAKE_SCM_API std::vector<EventEntry> eventLog();
FAKE_SCM_API std::vector<OpenRecord> opens();
FAKE_SCM_API int openHandleCount();

} // namespace fakescm
