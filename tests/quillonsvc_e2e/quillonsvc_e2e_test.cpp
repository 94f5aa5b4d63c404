// quillonsvc installed, started from a console, commanded, stopped, killed
// and removed, with the sample Java application behind it.
#include "e2e_fixture.h"

using namespace quillon::e2e;

namespace {

TEST_F(QuillonsvcEndToEnd, InstallRunCommandPauseStopAndRemove)
{
    Outcome o = run({"-i"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, "The service Quillon has been installed under: " + program + "\n");
    EXPECT_EQ(o.err, "");

    o = run({"-v"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, versionText(false));

    // From a console without an option: the manager starts the service in a
    // process of its own and the console returns at once.
    o = run({});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.err, "");
    ASSERT_TRUE(waitForVersion(true));
    ASSERT_TRUE(waitForServiceRunning());
    const long service = runningServicePid();
    ASSERT_GT(service, 0);
    const long java = waitForJava(service);
    ASSERT_GT(java, 0) << "no JVM behind the service";
    ASSERT_TRUE(waitForEntry("Quillon startup completed"));

    o = run({"-c", "5"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out + o.err, "");
    // Not pausable: the manager refuses, the program says nothing and the
    // service keeps running.
    o = run({"-p"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_EQ(run({"-v"}).out, versionText(true));
    EXPECT_EQ(runningServicePid(), service);

    o = run({"-t"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(processGone(java));
    EXPECT_TRUE(processGone(service));
    EXPECT_EQ(run({"-v"}).out, versionText(false));

    // The JVM received the quit command and answered with its shut-down marker.
    const auto texts = eventTexts();
    const auto at = [&texts](const std::string& text) {
        return std::find(texts.begin(), texts.end(), text) - texts.begin();
    };
    const std::vector<std::string> expected {"Service Quillon is starting up", "Quillon startup completed",
                                             "Service Quillon is going to shutdown.",
                                             "Quillon shutdown completed", "Service Quillon succesfully stopped."};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_LT(at(expected[i]), static_cast<long>(texts.size())) << "no entry: " << expected[i];
        if (i > 0) {
            EXPECT_LT(at(expected[i - 1]), at(expected[i])) << expected[i];
        }
    }

    o = run({"-u"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, "The service Quillon has been uninstalled.\n");
    EXPECT_EQ(run({"-v"}).out,
              "The service\n\tQuillon\n\t" + program + "\n\nis not installed and not running\n\n");
}

TEST_F(QuillonsvcEndToEnd, AKilledServiceReadsStoppedAndLeavesNoJava)
{
    long service = 0;
    long java = 0;
    installAndStart(service, java);
    ASSERT_EQ(::kill(static_cast<pid_t>(service), SIGKILL), 0);
    EXPECT_TRUE(processGone(java)) << "the JVM outlived its supervisor";
    EXPECT_TRUE(waitForVersion(false)) << run({"-v"}).out << readText(stateDir + "/run/quillon/status");
    // The service starts again after it was killed.
    EXPECT_EQ(run({}).exitCode, 0);
    ASSERT_TRUE(waitForServiceRunning());
    const long again = runningServicePid();
    ASSERT_GT(again, 0);
    EXPECT_NE(again, service);
    EXPECT_GT(waitForJava(again), 0);
    EXPECT_EQ(run({"-t"}).exitCode, 0);
    EXPECT_TRUE(waitForVersion(false));
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

TEST_F(QuillonsvcEndToEnd, InstallTwiceAndRemoveWhatIsNotThere)
{
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    Outcome o = run({"-i"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "The service Quillon is already installed\n");

    EXPECT_EQ(run({"-u"}).exitCode, 0);
    o = run({"-u"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "The service Quillon is not installed\n");
}

// The service's exit code as Windows reads it: a code of the service's own
// (the Java process ended by itself, or never started up) is reported as
// service-specific, a clean stop as no error at all.
TEST_F(QuillonsvcEndToEnd, ExitCodesReachTheServiceManagerAsServiceSpecific)
{
    useProgramWithItsOwnJava();
    const std::string& dir = programDir;
    const std::string startup = "echo '###QUILLSTARTUPCOMP###'\n";
    enum class End { JavaToldToExit, JavaNeverStarts, StopOption };
    const struct {
        const char* label;
        std::string java;
        End end;
        DWORD win32;
        DWORD specific;
        // As a monitor polling the service manager sees them.
        std::vector<DWORD> states;
    } cases[] = {
        {"Java ends by itself with 3",
         startup + "i=0\nwhile [ ! -e java.go ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i + 1)); done\nexit 3\n",
         End::JavaToldToExit, ERROR_SERVICE_SPECIFIC_ERROR, 3,
         {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED}},
        // A failed start-up never reads as running.
        {"Java ends before its start-up marker", "exit 4\n", End::JavaNeverStarts, ERROR_SERVICE_SPECIFIC_ERROR, 1,
         {SERVICE_START_PENDING, SERVICE_STOPPED}},
        {"a clean stop",
         startup + "while read -r line && [ \"$line\" != QUIT ]; do :; done\necho '###QUILLSHUTDOWNCOMP###'\n",
         End::StopOption, 0, 0, {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}},
    };
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    for (const auto& c : cases) {
        setJava(c.java);
        ::unlink((dir + "/java.go").c_str());

        const quillon::testing::StatusPoller poller(u"Quillon");
        ASSERT_EQ(run({}).exitCode, 0) << c.label;
        if (c.end != End::JavaNeverStarts) {
            ASSERT_TRUE(waitForServiceRunning()) << c.label;
        }
        if (c.end == End::JavaToldToExit) {
            std::ofstream(dir + "/java.go") << "go\n";
        }
        if (c.end == End::StopOption) {
            EXPECT_EQ(run({"-t"}).exitCode, 0) << c.label;
        }
        SERVICE_STATUS status {};
        ASSERT_TRUE(waitForStopped(status)) << c.label << ": state " << status.dwCurrentState;
        EXPECT_EQ(status.dwWin32ExitCode, c.win32) << c.label;
        EXPECT_EQ(status.dwServiceSpecificExitCode, c.specific) << c.label;
        ASSERT_TRUE(poller.waitFor(SERVICE_STOPPED, SERVICE_START_PENDING, kWait)) << c.label;
        const auto states = quillon::testing::statesSince(poller.changes(), SERVICE_START_PENDING);
        EXPECT_EQ(states, c.states) << c.label << ": " << quillon::testing::stateNames(states);
    }
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

// A start as the service manager shows it, polled every 2 ms as a monitor
// polls it: start-pending until the application has said it started up.
// Prints when each state and the marker came, counted from the start request.
TEST_F(QuillonsvcEndToEnd, StartPendingUntilTheApplicationHasStartedUp)
{
    using namespace std::chrono;
    using quillon::testing::StatusPoller;
    useProgramWithItsOwnJava();
    // An application that needs 3 s to start; it notes the moment it writes
    // its marker (the wall clock, in nanoseconds).
    setJava("sleep 3\ndate +%s%N > '" + programDir + "/marker.time'\necho '###QUILLSTARTUPCOMP###'\n"
            "while read -r line && [ \"$line\" != QUIT ]; do :; done\necho '###QUILLSHUTDOWNCOMP###'\n");
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    const StatusPoller poller(u"Quillon");
    const auto requested = system_clock::now();
    ASSERT_EQ(run({}).exitCode, 0);
    ASSERT_TRUE(poller.waitFor(SERVICE_RUNNING, SERVICE_START_PENDING, kWait));
    EXPECT_EQ(run({"-t"}).exitCode, 0);
    ASSERT_TRUE(poller.waitFor(SERVICE_STOPPED, SERVICE_RUNNING, kWait));

    const auto changes = poller.changes();
    const auto states = quillon::testing::statesSince(changes, SERVICE_START_PENDING);
    EXPECT_EQ(states, (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                          SERVICE_STOPPED}))
        << quillon::testing::stateNames(states);
    const auto* pending = quillon::testing::firstChangeTo(changes, SERVICE_START_PENDING);
    const auto* running = quillon::testing::firstChangeTo(changes, SERVICE_RUNNING);
    const std::string markerText = readText(programDir + "/marker.time");
    ASSERT_TRUE(pending != nullptr && running != nullptr && !markerText.empty());
    const system_clock::time_point marker {duration_cast<system_clock::duration>(nanoseconds(std::stoll(markerText)))};
    // Running is reported once the marker has been read, never before it.
    EXPECT_GE(running->at, marker);
    const auto since = [&](system_clock::time_point at) {
        return duration_cast<microseconds>(at - requested).count() / 1000.0;
    };
    std::printf("start request at +0 ms; START_PENDING seen at +%.1f ms; marker written at +%.1f ms; "
                "RUNNING seen at +%.1f ms (%.1f ms after the marker, polled every 2 ms)\n",
                since(pending->at), since(marker), since(running->at),
                duration_cast<microseconds>(running->at - marker).count() / 1000.0);
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

// A stop during the start-up wait: it ends the wait, the application gets
// its quit command, and the service goes from start-pending to stopped by
// way of stop-pending, never running.
TEST_F(QuillonsvcEndToEnd, AStopWhileStartPendingStopsWithoutRunning)
{
    using quillon::testing::StatusPoller;
    useProgramWithItsOwnJava();
    // An application that never says it started, and takes a moment to shut down.
    setJava("while read -r line && [ \"$line\" != QUIT ]; do :; done\nsleep 0.3\n"
            "echo '###QUILLSHUTDOWNCOMP###'\n");
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    const StatusPoller poller(u"Quillon");
    ASSERT_EQ(run({}).exitCode, 0);
    ASSERT_TRUE(waitForEntry("Quillon startup java Process ok ")); // in its start-up wait
    const Outcome stopped = run({"-t"});
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_EQ(stopped.out + stopped.err, "");
    ASSERT_TRUE(poller.waitFor(SERVICE_STOPPED, SERVICE_START_PENDING, kWait));

    const auto changes = poller.changes();
    const auto states = quillon::testing::statesSince(changes, SERVICE_START_PENDING);
    EXPECT_EQ(states, (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}))
        << quillon::testing::stateNames(states);
    EXPECT_EQ(changes.back().win32ExitCode, 0u);
    EXPECT_EQ(changes.back().specificExitCode, 0u);
    const auto texts = eventTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Service Quillon is going to shutdown."), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Quillon shutdown completed"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "Quillon startup completed"), texts.end());
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

// A restart the application asks for, here in the same read as its start-up
// marker: start-up completes (running), then the restart follows, and the
// new JVM leaves the service running.
TEST_F(QuillonsvcEndToEnd, ARestartLeavesTheServiceRunning)
{
    using quillon::testing::StatusPoller;
    useProgramWithItsOwnJava();
    setJava("runs=$(cat runs 2>/dev/null || echo 0)\necho $((runs + 1)) > runs\n"
            "if [ \"$runs\" = 0 ]; then printf '###QUILLSTARTUPCOMP###\\n###QUILLRESTART###\\n';"
            " else echo '###QUILLSTARTUPCOMP###'; fi\n"
            "while read -r line && [ \"$line\" != QUIT ]; do :; done\necho '###QUILLSHUTDOWNCOMP###'\n");
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    const StatusPoller poller(u"Quillon");
    ASSERT_EQ(run({}).exitCode, 0);
    const auto startups = [this] {
        const auto texts = eventTexts();
        return std::count(texts.begin(), texts.end(), "Quillon startup completed");
    };
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (startups() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(startups(), 2) << "the restart's JVM did not start up";
    EXPECT_EQ(run({"-t"}).exitCode, 0);
    ASSERT_TRUE(poller.waitFor(SERVICE_STOPPED, SERVICE_START_PENDING, kWait));

    const auto states = quillon::testing::statesSince(poller.changes(), SERVICE_START_PENDING);
    EXPECT_EQ(states, (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                          SERVICE_STOPPED}))
        << quillon::testing::stateNames(states);
    const auto texts = eventTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Quillon do restart"), 1);
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

} // namespace
