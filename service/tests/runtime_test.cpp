// The run under the service manager: the states reported to the manager,
// the controls carried to the main thread, and the start-up failures. The
// stand-in manager calls serviceMain and the control handler on threads of
// its own, as the real one does.
#include "fake_fixture.h"
#include "servicecontroller.h"
#include "serviceruntime_p.h"

#include "platform/win32_message.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

const QString name = QStringLiteral("QuillonTest");
constexpr int waitMs = 60000;

// The start control has ended: running reported once after start returned
// and once more as the control handler leaves.
bool waitUntilStarted()
{
    return fakescm::waitForReportedState(SERVICE_RUNNING, waitMs, 2);
}

std::vector<DWORD> states(const std::vector<SERVICE_STATUS>& statuses)
{
    std::vector<DWORD> result;
    for (const SERVICE_STATUS& status : statuses)
        result.push_back(status.dwCurrentState);
    return result;
}

// Runs exec() on this (the main) thread while the script plays the service
// manager's part on another; should the script fail, it ends the event loop
// so that the test cannot hang.
class ServiceRun
{
public:
    explicit ServiceRun(RecordingService& s)
        : service(s)
    {
        service.onApplicationCreated = [this] { application.store(QCoreApplication::instance()); };
    }

    int exec(const std::function<bool()>& script)
    {
        std::thread manager([&] {
            if (!script()) {
                ADD_FAILURE() << "the manager's script failed";
                if (fakescm::waitForReportedState(SERVICE_START_PENDING, 1))
                    fakescm::deliverControl(SERVICE_CONTROL_STOP, waitMs);
            }
        });
        const int code = service.exec();
        manager.join();
        return code;
    }

    // Ends the event loop from another thread, as a service quitting itself.
    void quitLater()
    {
        QCoreApplication* app = application.load();
        if (app != nullptr)
            QMetaObject::invokeMethod(app, "quit", Qt::QueuedConnection);
    }

    RecordingService& service;
    std::atomic<QCoreApplication*> application{nullptr};
};

class RuntimeTest : public FakeScmTest
{
};

TEST_F(RuntimeTest, StartThenStopReportsEachStateAndTheExitCode)
{
    fakescm::setStartArguments({u"first", u"second"});
    RecordingService service({QStringLiteral("prog")});
    ServiceRun run(service);
    const int code = run.exec([] {
        if (!waitUntilStarted())
            return false;
        return QtServiceController(name).stop();
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "stop"}));
    EXPECT_TRUE(service.everyCallOnMainThread);
    EXPECT_TRUE(service.loopRunningAtStart);
    EXPECT_EQ(service.argumentsAtStart, (QStringList{name, QStringLiteral("first"), QStringLiteral("second")}));

    const auto statuses = fakescm::reportedStatuses();
    auto seen = states(statuses);
    // The second stop-pending report races with the end of the loop and is
    // left out once the service reads as stopped.
    const std::vector<DWORD> withRepeat{SERVICE_START_PENDING, SERVICE_RUNNING,      SERVICE_RUNNING,
                                        SERVICE_STOP_PENDING,  SERVICE_STOP_PENDING, SERVICE_STOPPED};
    const std::vector<DWORD> withoutRepeat{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_RUNNING,
                                           SERVICE_STOP_PENDING, SERVICE_STOPPED};
    EXPECT_TRUE(seen == withRepeat || seen == withoutRepeat) << ::testing::PrintToString(seen);
    for (const SERVICE_STATUS& status : statuses) {
        EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS);
        EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
        EXPECT_EQ(status.dwCheckPoint, 0u);
        EXPECT_EQ(status.dwWaitHint, 0u);
    }
    EXPECT_EQ(statuses.back().dwWin32ExitCode, 0u);
    EXPECT_EQ(statuses.back().dwServiceSpecificExitCode, 0u);
}

TEST_F(RuntimeTest, StopOvertakingAStartWakesOnlyItsOwnWaiterAndNoRunningFollows)
{
    // start handles events while it waits (as the supervisor's start-up wait
    // does), so the stop is handled inside it, and start goes on only once
    // the stop's requester has come back.
    RecordingService service({QStringLiteral("prog")});
    std::atomic<bool> stopReturned{false};
    std::atomic<bool> startStillRan{false};
    std::atomic<bool> startBegan{false};
    service.onStart = [&] {
        startBegan = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stopReturned && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        startStillRan = stopReturned.load();
    };
    ServiceRun run(service);
    run.exec([&] {
        // The stop comes while start runs: a start-pending service takes it.
        if (!fakescm::waitForReportedState(SERVICE_START_PENDING, waitMs))
            return false;
        for (int i = 0; i < waitMs / 5 && !startBegan; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const bool delivered = fakescm::deliverControl(SERVICE_CONTROL_STOP, waitMs);
        stopReturned = true;
        return delivered;
    });
    EXPECT_TRUE(startStillRan) << "the stop's requester waited for start to end";
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "stop"}));
    const auto seen = states(fakescm::reportedStatuses());
    ASSERT_FALSE(seen.empty());
    const auto stopPending = std::find(seen.begin(), seen.end(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    ASSERT_NE(stopPending, seen.end()) << ::testing::PrintToString(seen);
    EXPECT_EQ(std::find(stopPending, seen.end(), static_cast<DWORD>(SERVICE_RUNNING)), seen.end())
        << ::testing::PrintToString(seen);
    EXPECT_EQ(seen.front(), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(seen.back(), static_cast<DWORD>(SERVICE_STOPPED));
}

// A start that waits for its application, handling events meanwhile, until
// its stop has come or it is told to go on.
void startThatWaits(RecordingService& service, std::atomic<bool>& began, std::atomic<bool>& goOn)
{
    service.onStart = [&] {
        began = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!goOn && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
}

bool waitFor(const std::atomic<bool>& flag)
{
    for (int i = 0; i < waitMs / 5 && !flag; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return flag;
}

// ControlService's error through the manager, or ERROR_SUCCESS.
DWORD controlError(DWORD control)
{
    SC_HANDLE manager = ServiceApi::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE handle = ServiceApi::OpenServiceW(manager, reinterpret_cast<LPCWSTR>(name.utf16()),
                                                SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE
                                                    | SERVICE_USER_DEFINED_CONTROL);
    SERVICE_STATUS status{};
    const DWORD error = ServiceApi::ControlService(handle, control, &status) ? ERROR_SUCCESS : GetLastError();
    ServiceApi::CloseServiceHandle(handle);
    ServiceApi::CloseServiceHandle(manager);
    return error;
}

TEST_F(RuntimeTest, StartPendingUntilStartReturnsThenRunning)
{
    RecordingService service({QStringLiteral("prog")});
    std::atomic<bool> began{false};
    std::atomic<bool> goOn{false};
    startThatWaits(service, began, goOn);
    std::vector<DWORD> whileStarting;
    ServiceRun run(service);
    run.exec([&] {
        if (!waitFor(began))
            return false;
        whileStarting = states(fakescm::reportedStatuses());
        goOn = true;
        return waitUntilStarted() && QtServiceController(name).stop();
    });
    EXPECT_EQ(whileStarting, std::vector<DWORD>{SERVICE_START_PENDING});
    const auto seen = states(fakescm::reportedStatuses());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(std::vector<DWORD>(seen.begin(), seen.begin() + 3),
              (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_RUNNING}));
}

TEST_F(RuntimeTest, AStartPendingServiceTakesAStopAndNothingElse)
{
    // Through the manager's ControlService: a start-pending service that
    // accepts a stop gets it; every other control is refused.
    RecordingService service({QStringLiteral("prog")});
    service.setFlags(QtServiceBase::Pausable);
    std::atomic<bool> began{false};
    std::atomic<bool> stopped{false};
    startThatWaits(service, began, stopped);
    service.onStop = [&] { stopped = true; };
    std::vector<DWORD> refusals;
    bool stopAccepted = false;
    ServiceRun run(service);
    const int code = run.exec([&] {
        if (!waitFor(began))
            return false;
        for (const DWORD control : {DWORD(SERVICE_CONTROL_PAUSE), DWORD(SERVICE_CONTROL_INTERROGATE), DWORD(200)})
            refusals.push_back(controlError(control));
        stopAccepted = QtServiceController(name).stop();
        return true;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(refusals, std::vector<DWORD>(3, ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_TRUE(stopAccepted);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "stop"}));
    // Start-pending, stop-pending, stopped: never running.
    auto seen = states(fakescm::reportedStatuses());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(seen, (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}));
}

TEST_F(RuntimeTest, AFailedStartGoesFromStartPendingToStoppedWithItsCode)
{
    RecordingService service({QStringLiteral("prog")});
    service.onStart = [&] { service.failStartForTest(5); };
    ServiceRun run(service);
    EXPECT_EQ(run.exec([] { return fakescm::waitForReportedState(SERVICE_STOPPED, waitMs); }), 0);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start"}));
    const auto statuses = fakescm::reportedStatuses();
    auto seen = states(statuses);
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(seen, (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_STOPPED}));
    EXPECT_EQ(statuses.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(statuses.back().dwServiceSpecificExitCode, 5u);
}

TEST_F(RuntimeTest, ServiceQuittingItselfIsReportedStoppedWithItsExitCode)
{
    RecordingService service({QStringLiteral("prog")});
    service.onStart = [] { QCoreApplication::exit(7); };
    ServiceRun run(service);
    EXPECT_EQ(run.exec([] { return fakescm::waitForReportedState(SERVICE_STOPPED, waitMs); }), 0);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start"}));
    const auto statuses = fakescm::reportedStatuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(statuses.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(statuses.back().dwServiceSpecificExitCode, 7u);
}

TEST_F(RuntimeTest, PauseAndContinueWithPausable)
{
    RecordingService service({QStringLiteral("prog")});
    service.setFlags(QtServiceBase::Pausable);
    ServiceRun run(service);
    run.exec([] {
        if (!waitUntilStarted())
            return false;
        QtServiceController controller(name);
        return controller.pause() && controller.resume() && controller.stop();
    });
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "pause", "resume", "stop"}));
    const auto statuses = fakescm::reportedStatuses();
    const auto seen = states(statuses);
    const std::vector<DWORD> expectedStart{SERVICE_START_PENDING, SERVICE_RUNNING,        SERVICE_RUNNING,
                                           SERVICE_PAUSE_PENDING, SERVICE_PAUSED,         SERVICE_PAUSED,
                                           SERVICE_CONTINUE_PENDING, SERVICE_RUNNING,     SERVICE_RUNNING,
                                           SERVICE_STOP_PENDING};
    ASSERT_GE(seen.size(), expectedStart.size());
    EXPECT_EQ(std::vector<DWORD>(seen.begin(), seen.begin() + static_cast<long>(expectedStart.size())),
              expectedStart);
    EXPECT_EQ(seen.back(), static_cast<DWORD>(SERVICE_STOPPED));
    for (const SERVICE_STATUS& status : statuses)
        EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE));
}

TEST_F(RuntimeTest, PauseIsRefusedWithoutPausable)
{
    RecordingService service({QStringLiteral("prog")});
    ServiceRun run(service);
    run.exec([] {
        if (!waitUntilStarted())
            return false;
        QtServiceController controller(name);
        const bool refused = !controller.pause();
        return controller.stop() && refused;
    });
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(RuntimeTest, ShutdownWithStopsAtShutdownReportsNoPendingState)
{
    RecordingService service({QStringLiteral("prog")});
    service.setFlags(QtServiceBase::StopsAtShutdown);
    ServiceRun run(service);
    run.exec([] {
        return waitUntilStarted()
            && fakescm::deliverControl(SERVICE_CONTROL_SHUTDOWN, waitMs);
    });
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "stop"}));
    const auto statuses = fakescm::reportedStatuses();
    const auto seen = states(statuses);
    const std::vector<DWORD> withRepeat{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_RUNNING, SERVICE_RUNNING,
                                        SERVICE_STOPPED};
    const std::vector<DWORD> withoutRepeat{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_RUNNING,
                                           SERVICE_STOPPED};
    EXPECT_TRUE(seen == withRepeat || seen == withoutRepeat) << ::testing::PrintToString(seen);
    for (const SERVICE_STATUS& status : statuses)
        EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
}

TEST_F(RuntimeTest, UserControlsReachProcessCommandAndReReportOnce)
{
    RecordingService service({QStringLiteral("prog")});
    ServiceRun run(service);
    std::vector<std::size_t> reportsPerControl;
    run.exec([&] {
        if (!waitUntilStarted())
            return false;
        QtServiceController controller(name);
        for (const auto& send : std::vector<std::function<bool()>>{
                 [&] { return controller.sendCommand(72); },               // control 200
                 [] { return fakescm::deliverControl(128, waitMs); },      // code 0
                 [] { return fakescm::deliverControl(255, waitMs); },      // code 127
                 [] { return fakescm::deliverControl(SERVICE_CONTROL_INTERROGATE, waitMs); },
                 [] { return fakescm::deliverControl(6, waitMs); }}) {    // no control of ours
            const std::size_t before = fakescm::reportedStatuses().size();
            if (!send())
                return false;
            reportsPerControl.push_back(fakescm::reportedStatuses().size() - before);
        }
        return controller.stop();
    });
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "command 72", "command 0", "command 127", "stop"}));
    EXPECT_EQ(reportsPerControl, (std::vector<std::size_t>{1, 1, 1, 1, 1}));
    const auto statuses = fakescm::reportedStatuses();
    ASSERT_GE(statuses.size(), 8u);
    for (std::size_t i = 3; i < 8; ++i)
        EXPECT_EQ(statuses[i].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING)) << i;
}

TEST_F(RuntimeTest, SetFlagsReportsOnlyAChange)
{
    RecordingService service({QStringLiteral("prog")});
    service.setFlags(QtServiceBase::Pausable); // before the run: stored, nothing reported
    service.onStart = [&] {
        service.setFlags(QtServiceBase::Pausable);
        service.setFlags(QtServiceBase::Pausable | QtServiceBase::StopsAtShutdown);
    };
    ServiceRun run(service);
    run.exec([] {
        return waitUntilStarted() && QtServiceController(name).stop();
    });
    const auto statuses = fakescm::reportedStatuses();
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses[0].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(statuses[0].dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE));
    EXPECT_EQ(statuses[1].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(statuses[1].dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN));
    EXPECT_EQ(statuses[2].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(RuntimeTest, UnstoppableServiceRefusesStop)
{
    RecordingService service({QStringLiteral("prog")});
    service.setFlags(QtServiceBase::Unstoppable);
    ServiceRun run(service);
    run.exec([&] {
        if (!waitUntilStarted())
            return false;
        MessageCapture capture;
        const bool refused = !QtServiceController(name).stop();
        run.quitLater();
        return refused;
    });
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start"}));
    for (const SERVICE_STATUS& status : fakescm::reportedStatuses())
        EXPECT_EQ(status.dwControlsAccepted, 0u);
}

TEST_F(RuntimeTest, DispatcherFailureOtherThan1063IsLoggedAndFails)
{
    fakescm::setDispatcherFailure(ERROR_ACCESS_DENIED);
    RecordingService service({QStringLiteral("prog")});
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, -4);
    EXPECT_EQ(outcome.err, "The service QuillonTest could not start\n");
    EXPECT_TRUE(service.calls.empty());
    const auto log = fakescm::eventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].source, u"QuillonTest");
    EXPECT_EQ(log[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(log[0].category, 0u);
    EXPECT_EQ(log[0].eventId, 0u);
    EXPECT_TRUE(log[0].dataPointerNull);
    ASSERT_EQ(log[0].strings.size(), 1u);
    EXPECT_EQ(qs(log[0].strings[0]), QStringLiteral("The Service failed to start [Access is denied.]"));
}

TEST_F(RuntimeTest, HandlerThatCannotBeRegisteredLeavesTheLoopRunningWithoutAStart)
{
    fakescm::setRegisterHandlerFails(true);
    RecordingService service({QStringLiteral("prog")});
    ServiceRun run(service);
    const int code = run.exec([&] {
        for (int i = 0; i < waitMs / 10 && !fakescm::registerHandlerAttempted(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!fakescm::registerHandlerAttempted())
            return false;
        run.quitLater();
        return true;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(service.calls.empty());
    EXPECT_TRUE(fakescm::reportedStatuses().empty());
}

TEST_F(RuntimeTest, NoApplicationMeansNoRun)
{
    RecordingService service({QStringLiteral("prog")});
    service.createNoApplication = true;
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, -4);
    EXPECT_EQ(outcome.err, "The service QuillonTest could not start\n");
    EXPECT_TRUE(fakescm::reportedStatuses().empty());
}

TEST(AppEventFilter, ConsumesOnlyALogOffEndSession)
{
    struct Case {
        UINT message;
        LPARAM lParam;
        bool consumed;
    };
    const Case cases[] = {
        {WM_ENDSESSION, static_cast<LPARAM>(ENDSESSION_LOGOFF), true},
        {WM_ENDSESSION, static_cast<LPARAM>(ENDSESSION_LOGOFF | 0x1), true},
        {WM_ENDSESSION, 0, false},
        {WM_ENDSESSION, 0x1, false},
        {0x0011 /* WM_QUERYENDSESSION */, static_cast<LPARAM>(ENDSESSION_LOGOFF), false},
    };
    for (const Case& c : cases) {
        MSG message{};
        message.message = c.message;
        message.lParam = c.lParam;
        long result = -5;
        const bool consumed = QtServiceAppEventFilter::instance()->nativeEventFilter(
            QByteArrayLiteral("windows_generic_MSG"), &message, &result);
        EXPECT_EQ(consumed, c.consumed) << c.message << " " << c.lParam;
        EXPECT_EQ(result, c.consumed ? 1 : -5);
    }
    EXPECT_EQ(QtServiceAppEventFilter::instance(), QtServiceAppEventFilter::instance());
}

} // namespace
