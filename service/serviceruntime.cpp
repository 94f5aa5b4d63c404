// The service run under the service manager: the main thread's part, the
// service main function, the control handler and the control events.
#include "serviceruntime_p.h"

#include "localarguments_p.h"
#include "servicebase_p.h"
#include "servicemanagerapi_p.h"
#include "threadsync_p.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include <algorithm>
#include <vector>

namespace {

// The service manager's callbacks take no context, so the state of the run
// is reachable through this one pointer. Its lock also counts the callbacks
// that use the state, so that the run frees it only when none does.
QMutex runtimeStatePointerMutex;
QWaitCondition callbacksDone;
ServiceRuntimeState* runtimeStatePointer = nullptr;

constexpr int argsReadyTimeoutMs = 20000;
constexpr unsigned long handlerThreadGraceMs = 1000;

// A dispatcher thread that has not finished cannot be deleted (Qt aborts),
// and it may still call into the state of its run. Both are kept, reachable,
// for the rest of the process's life: the list is never destroyed.
struct AbandonedServiceRun {
    ServiceRuntimeState* state;
    HandlerThread* thread;
};

void keepAbandoned(const AbandonedServiceRun& run)
{
    static QMutex mutex;
    static auto* const runs = new std::vector<AbandonedServiceRun>;
    SyncedLocker lock(mutex);
    runs->push_back(run);
}

void publish(ServiceBaseData& data, ServiceRuntimeState* state)
{
    data.runtimeState = state;
    SyncedLocker lock(runtimeStatePointerMutex);
    runtimeStatePointer = state;
}

} // namespace

// True when no callback of the service manager uses the state any more,
// after a grace period for one that is just returning.
bool waitForCallbacks(ServiceRuntimeState* state)
{
    SyncedLocker lock(runtimeStatePointerMutex);
    const QDeadlineTimer deadline(static_cast<qint64>(handlerThreadGraceMs));
    while (state->callbacksInFlight != 0) {
        if (!lock.wait(callbacksDone, deadline))
            return state->callbacksInFlight == 0;
    }
    return true;
}

namespace {

// Ends the run's bookkeeping: unpublishes the state and frees it with the
// thread, or keeps both while the thread runs or a callback (a control
// waiting for an event that no loop will deliver, say) still uses them.
void retire(ServiceBaseData& data, ServiceRuntimeState* state, HandlerThread* thread)
{
    publish(data, nullptr);
    const bool callbacksEnded = waitForCallbacks(state);
    if (!callbacksEnded || (thread != nullptr && !thread->isFinished())) {
        keepAbandoned({state, thread});
        return;
    }
    // A finished thread wrote its last field before it let go of the
    // state; Qt's own join is invisible to ThreadSanitizer.
    threadsync::acquired(thread);
    delete thread;
    delete state;
}

void postControl(ServiceRuntimeState* state, SyncedLocker& lock, int code)
{
    if (state->handler == nullptr || state->loopEnded)
        return;
    const quint64 ticket = ++state->postedControls;
    QCoreApplication::postEvent(state->handler, new ControlEvent(code, ticket), Qt::NormalEventPriority);
    auto& handled = state->handledTickets;
    for (;;) {
        const auto own = std::find(handled.begin(), handled.end(), ticket);
        if (own != handled.end()) {
            handled.erase(own);
            return;
        }
        if (state->loopEnded)
            return;
        lock.wait(state->controlDone);
    }
}

} // namespace

ServiceRuntimeState::ServiceRuntimeState(QtServiceBase::ServiceFlags flags)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = acceptedControls(flags);
    status.dwWin32ExitCode = 0;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
}

DWORD ServiceRuntimeState::acceptedControls(QtServiceBase::ServiceFlags flags)
{
    DWORD accepted = 0;
    if (!(flags & QtServiceBase::Unstoppable))
        accepted |= SERVICE_ACCEPT_STOP;
    if (flags & QtServiceBase::Pausable)
        accepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    if (flags & QtServiceBase::StopsAtShutdown)
        accepted |= SERVICE_ACCEPT_SHUTDOWN;
    return accepted;
}

void ServiceRuntimeState::reportLocked()
{
    // Without a registered handler there is nobody to report to.
    if (statusHandle != nullptr)
        ServiceApi::SetServiceStatus(statusHandle, &status);
}

void ServiceRuntimeState::reportState(DWORD state)
{
    if (!serviceApiBound())
        return;
    SyncedLocker lock(statusLock);
    if (runEnded || (stopReported && state != SERVICE_STOP_PENDING))
        return;
    if (state == SERVICE_STOP_PENDING)
        stopReported = true;
    status.dwCurrentState = state;
    reportLocked();
}

void ServiceRuntimeState::reportStartEnded()
{
    if (!serviceApiBound())
        return;
    SyncedLocker lock(statusLock);
    if (runEnded || stopReported || startFailed)
        return;
    status.dwCurrentState = SERVICE_RUNNING;
    reportLocked();
}

void ServiceRuntimeState::reportStartFailed()
{
    SyncedLocker lock(statusLock);
    startFailed = true;
}

void ServiceRuntimeState::reportStopped(int exitCode)
{
    SERVICE_STATUS stopped;
    SERVICE_STATUS_HANDLE handle = nullptr;
    {
        SyncedLocker lock(statusLock);
        runEnded = true;
        // Windows reads dwWin32ExitCode as a system error code: a code of
        // the service's own goes in the service-specific field.
        status.dwWin32ExitCode = exitCode == 0 ? 0 : ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
        if (!serviceApiBound())
            return;
        status.dwCurrentState = SERVICE_STOPPED;
        stopped = status;
        handle = statusHandle;
    }
    // Reported without the lock: a service manager may hold its own lock
    // while a control handler runs (Wine's does), and a handler finishing a
    // stop takes statusLock to report. Once runEnded is set no other report
    // is sent, so this one stays the last.
    if (handle != nullptr)
        ServiceApi::SetServiceStatus(handle, &stopped);
}

void ServiceRuntimeState::reportCurrentStatus()
{
    if (!serviceApiBound())
        return;
    SyncedLocker lock(statusLock);
    if (status.dwCurrentState != SERVICE_STOPPED)
        reportLocked();
}

void ServiceRuntimeState::reportAcceptedControls(QtServiceBase::ServiceFlags flags)
{
    if (!serviceApiBound())
        return;
    SyncedLocker lock(statusLock);
    status.dwControlsAccepted = acceptedControls(flags);
    if (!runEnded)
        reportLocked();
}

void ServiceRuntimeState::setStatusHandle(SERVICE_STATUS_HANDLE handle)
{
    SyncedLocker lock(statusLock);
    statusHandle = handle;
}

SERVICE_STATUS ServiceRuntimeState::currentStatus()
{
    SyncedLocker lock(statusLock);
    return status;
}

RuntimeStateUse::RuntimeStateUse()
{
    SyncedLocker lock(runtimeStatePointerMutex);
    used = runtimeStatePointer;
    if (used != nullptr)
        ++used->callbacksInFlight;
}

RuntimeStateUse::~RuntimeStateUse()
{
    if (used == nullptr)
        return;
    SyncedLocker lock(runtimeStatePointerMutex);
    --used->callbacksInFlight;
    callbacksDone.wakeAll();
}

bool ServiceBaseData::runAsService()
{
    auto* state = new ServiceRuntimeState(flags);
    publish(*this, state);

    if (!resolveServiceApi()) {
        retire(*this, state, nullptr);
        return false;
    }

    auto* thread = new HandlerThread;
    thread->start(QThread::InheritPriority);

    if (!tryAcquireSynced(state->argsReady, argsReadyTimeoutMs)) {
        retire(*this, state, thread);
        return false;
    }

    if (!thread->dispatcherOk) {
        // The thread released argsReady as its last act and is ending.
        thread->wait();
        const bool outside = thread->outsideServiceManager;
        retire(*this, state, thread);
        // Launched from a console: ask the service manager to start the
        // service in a process of its own, with our arguments.
        return outside ? controller.start(args.mid(1)) : false;
    }

    LocalArguments arguments(state->serviceArgs);
    q_ptr->createApplication(arguments.argc(), arguments.argv());
    if (QCoreApplication::instance() == nullptr) {
        // serviceMain waits for the handler that will never come; the
        // dispatcher thread stays with the state.
        retire(*this, state, thread);
        return false;
    }

    QAbstractEventDispatcher::instance()->installNativeEventFilter(QtServiceAppEventFilter::instance());

    {
        SyncedLocker lock(state->controlMutex);
        state->handler = new QtServiceControllerHandler(state);
    }
    releaseSynced(state->handlerReady);

    const int exitCode = q_ptr->runApplication();
    // A control that came too late for the loop is not waited for: its
    // handler would otherwise block the service manager (Wine's holds a lock
    // while a handler runs, which the stopped report below needs).
    {
        SyncedLocker lock(state->controlMutex);
        state->loopEnded = true;
        state->controlDone.wakeAll();
    }
    state->reportStopped(exitCode);

    if (thread->isRunning())
        thread->wait(handlerThreadGraceMs);

    {
        SyncedLocker lock(state->controlMutex);
        delete state->handler;
        state->handler = nullptr;
    }

    delete QCoreApplication::instance();
    retire(*this, state, thread);
    return true;
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv)
{
    const RuntimeStateUse use;
    ServiceRuntimeState* state = use.state();
    QtServiceBase* service = QtServiceBase::instance();
    if (state == nullptr || service == nullptr)
        return;

    for (DWORD i = 0; i < argc; ++i)
        state->serviceArgs.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(argv[i])));
    releaseSynced(state->argsReady);

    acquireSynced(state->handlerReady);

    const QString name = service->serviceName();
    SERVICE_STATUS_HANDLE handle =
        ServiceApi::RegisterServiceCtrlHandlerW(reinterpret_cast<LPCWSTR>(name.utf16()), controlHandler);
    state->setStatusHandle(handle);
    if (handle != nullptr)
        controlHandler(InternalStartControl);
}

void WINAPI controlHandler(DWORD control)
{
    const RuntimeStateUse use;
    ServiceRuntimeState* state = use.state();
    if (state == nullptr)
        return;

    SyncedLocker lock(state->controlMutex);
    switch (control) {
    case SERVICE_CONTROL_STOP:
        state->reportState(SERVICE_STOP_PENDING);
        postControl(state, lock, SERVICE_CONTROL_STOP);
        break;
    case SERVICE_CONTROL_PAUSE:
        state->reportState(SERVICE_PAUSE_PENDING);
        postControl(state, lock, SERVICE_CONTROL_PAUSE);
        state->reportState(SERVICE_PAUSED);
        break;
    case SERVICE_CONTROL_CONTINUE:
        state->reportState(SERVICE_CONTINUE_PENDING);
        postControl(state, lock, SERVICE_CONTROL_CONTINUE);
        state->reportState(SERVICE_RUNNING);
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        postControl(state, lock, SERVICE_CONTROL_STOP);
        break;
    case InternalStartControl:
        // Start-pending for as long as the service's start takes: it returns
        // once the service is up, or has failed.
        state->reportState(SERVICE_START_PENDING);
        postControl(state, lock, static_cast<int>(InternalStartControl));
        state->reportStartEnded();
        break;
    default:
        if (control >= 128 && control <= 255)
            postControl(state, lock, static_cast<int>(control));
        break;
    }
    lock.unlock();

    state->reportCurrentStatus();
}

QtServiceControllerHandler::QtServiceControllerHandler(ServiceRuntimeState* runtimeState)
    : state(runtimeState)
{
}

void QtServiceControllerHandler::customEvent(QEvent* event)
{
    const int code = static_cast<int>(event->type()) - QEvent::User;
    QtServiceBase* service = QtServiceBase::instance();
    if (service != nullptr) {
        ServiceBaseData& data = *service->d_ptr;
        if (code == SERVICE_CONTROL_STOP) {
            data.stopService();
            QCoreApplication::quit();
        } else if (code == SERVICE_CONTROL_PAUSE) {
            data.pauseService();
        } else if (code == SERVICE_CONTROL_CONTINUE) {
            data.resumeService();
        } else if (code >= 128 && code <= 255) {
            data.processServiceCommand(code - 128);
        } else if (code == static_cast<int>(InternalStartControl)) {
            data.startService();
        }
    }
    SyncedLocker lock(state->controlMutex);
    state->handledTickets.push_back(static_cast<ControlEvent*>(event)->ticket);
    state->controlDone.wakeAll();
}

void QtServiceBase::failStart(int exitCode)
{
    if (d_ptr->runtimeState != nullptr)
        d_ptr->runtimeState->reportStartFailed();
    QCoreApplication::exit(exitCode);
}

void QtServiceBase::setFlags(ServiceFlags flags)
{
    if (d_ptr->flags == flags)
        return;
    d_ptr->flags = flags;
    if (d_ptr->runtimeState != nullptr)
        d_ptr->runtimeState->reportAcceptedControls(flags);
}
