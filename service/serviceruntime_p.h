// Running the service object: under the service manager (a dispatcher
// thread, the service main function, the control handler and the events
// that carry controls to the main thread) and as a regular application.
#pragma once

#include "servicebase.h"

#include "platform/win32_service.h"

#include <QAbstractNativeEventFilter>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <QEvent>

#include <atomic>
#include <vector>

class ServiceBaseData;
class QtServiceControllerHandler;

// The control the service main function gives itself to start the service.
constexpr DWORD InternalStartControl = 256;

// A control carried to the main thread, with the ticket its waiter waits for.
class ControlEvent : public QEvent
{
public:
    ControlEvent(int code, quint64 number)
        : QEvent(static_cast<QEvent::Type>(QEvent::User + code))
        , ticket(number)
    {
    }
    const quint64 ticket;
};

// Shared by the service manager's threads and the main thread for one run.
struct ServiceRuntimeState {
    explicit ServiceRuntimeState(QtServiceBase::ServiceFlags flags);

    SERVICE_STATUS status;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    QStringList serviceArgs;
    QWaitCondition controlDone;
    QMutex controlMutex;
    QSemaphore argsReady{0};
    QSemaphore handlerReady{0};
    QtServiceControllerHandler* handler = nullptr;

    // Under controlMutex: tickets of the control events posted so far, and
    // of those handled and not yet collected by their waiter. Controls
    // handled nested (a stop inside a start that waits) end out of order, so
    // a waiter goes on only when its own ticket is there.
    quint64 postedControls = 0;
    std::vector<quint64> handledTickets;
    // Under controlMutex: the event loop has returned; no control waits.
    bool loopEnded = false;

    // status and statusHandle are written by the main thread, the service
    // main thread and the control thread; this lock keeps each report whole.
    // It is only ever taken last and held for one report; the final report
    // (stopped) is sent after it is let go.
    QMutex statusLock;

    // Sets the current state and reports the status; nothing once the run
    // has reported its end, so that a control finishing late (the service
    // quit its event loop inside start, say) cannot report a stopped service
    // as running again.
    // Once stop-pending has been reported, only the end of the stop is: a
    // control that finishes after it (the start a stop overtook) reports
    // nothing.
    void reportState(DWORD state);
    // The service's start has returned: running, unless it failed or a stop
    // overtook it.
    void reportStartEnded();
    // The service's start has failed: it is never reported running.
    void reportStartFailed();
    // The end of the run: stopped, with the event loop's exit code.
    void reportStopped(int exitCode);
    // Reports the status again unless the service has stopped.
    void reportCurrentStatus();
    // Recomputes the accepted controls and reports them at once.
    void reportAcceptedControls(QtServiceBase::ServiceFlags flags);
    void setStatusHandle(SERVICE_STATUS_HANDLE handle);
    SERVICE_STATUS currentStatus();

    static DWORD acceptedControls(QtServiceBase::ServiceFlags flags);

private:
    void reportLocked();
    bool runEnded = false;    // under statusLock
    bool stopReported = false; // under statusLock
    bool startFailed = false;  // under statusLock
    friend class RuntimeStateUse;
    friend bool waitForCallbacks(ServiceRuntimeState* state);
    int callbacksInFlight = 0; // under the lock of the process-wide pointer
};

// The runtime state of the current service run, held for the length of one
// callback of the service manager: the run does not free a state while a
// callback still uses it. state() is null outside a run.
class RuntimeStateUse
{
public:
    RuntimeStateUse();
    ~RuntimeStateUse();
    RuntimeStateUse(const RuntimeStateUse&) = delete;
    RuntimeStateUse& operator=(const RuntimeStateUse&) = delete;

    ServiceRuntimeState* state() const { return used; }

private:
    ServiceRuntimeState* used;
};

// Sits in the service manager's dispatcher for the whole service run.
class HandlerThread : public QThread
{
public:
    std::atomic<bool> dispatcherOk{true};
    std::atomic<bool> outsideServiceManager{false};

protected:
    void run() override;
};

void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
void WINAPI controlHandler(DWORD control);

// Receives the control events on the main thread.
class QtServiceControllerHandler : public QObject
{
    Q_OBJECT
public:
    explicit QtServiceControllerHandler(ServiceRuntimeState* state);

protected:
    void customEvent(QEvent* event) override;

private:
    ServiceRuntimeState* state;
};

// Calls the service's start once the event loop of a foreground run runs.
class QtServiceStarter : public QObject
{
    Q_OBJECT
public:
    explicit QtServiceStarter(ServiceBaseData* data);

public slots:
    void slotStart();

private:
    ServiceBaseData* data;
};

// Keeps a user's log-off from ending the service's event loop.
class QtServiceAppEventFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

    // The one filter of the process, made on first use.
    static QtServiceAppEventFilter* instance();
};
