// Services run as separate processes: the test service started through the
// manager, controlled and queried from this process.
#include "service_fixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <pwd.h>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace quillon::advapi32::test;

namespace {

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

bool processGone(int pid)
{
    for (int i = 0; i < 1500; ++i) {
        if (::kill(pid, 0) != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class ServiceRun : public ServiceTest {
protected:
    // The service process: no manager channel left in its environment, the
    // root folder, stdin on /dev/null, the expected user, a session that is
    // not ours.
    void expectDetachedAs(unsigned uid)
    {
        const std::string prefix =
            "env channel=unset cwd=/ uid=" + std::to_string(uid) + " stdin=null sid=";
        for (int attempt = 0; attempt < 1500; ++attempt) {
            for (const auto& line : recordLines()) {
                if (line.rfind(prefix, 0) == 0) {
                    const long sid = std::stol(line.substr(prefix.size()));
                    EXPECT_NE(sid, static_cast<long>(::getsid(0)));
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "no line " << prefix;
    }
};

TEST_F(ServiceRun, StartControlsAndStopWithTheStatusAfterEach)
{
    SC_HANDLE service = install("Quillon", "--accept=stop,pause,shutdown --exit-code=42");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(start(service, {"alpha", "two words", "gr\xC3\xBC\xC3\x9F"})) << GetLastError();

    // Start returns once the dispatcher is connected, not when it runs.
    const DWORD early = query(service).dwCurrentState;
    EXPECT_TRUE(early == SERVICE_START_PENDING || early == SERVICE_RUNNING) << early;
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    waitForRecord("main|Quillon|alpha|two words|gr\xC3\xBC\xC3\x9F");
    expectDetachedAs(::getuid());
    const auto entries = readEventLog(stateDir + "/eventlog/quillon.jsonl");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].number.at("eventId"), 7);
    EXPECT_EQ(entries[0].number.at("pid"), servicePid("Quillon"));

    SERVICE_STATUS status {};
    EXPECT_FALSE(start(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);

    struct Step {
        DWORD control;
        DWORD stateAfter;
    };
    const Step steps[] = {
        {SERVICE_CONTROL_INTERROGATE, SERVICE_RUNNING}, {SERVICE_CONTROL_PAUSE, SERVICE_PAUSED},
        {200, SERVICE_PAUSED},                          {SERVICE_CONTROL_INTERROGATE, SERVICE_PAUSED},
        {SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING},    {128, SERVICE_RUNNING},
        {255, SERVICE_RUNNING},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.control);
        ASSERT_TRUE(ControlService(service, step.control, &status)) << GetLastError();
        EXPECT_EQ(status.dwCurrentState, step.stateAfter);
        EXPECT_EQ(query(service).dwCurrentState, step.stateAfter);
        EXPECT_EQ(status.dwControlsAccepted,
                  SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN);
    }

    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING || status.dwCurrentState == SERVICE_STOPPED);
    ASSERT_TRUE(waitForState(service, SERVICE_STOPPED));
    EXPECT_EQ(query(service).dwWin32ExitCode, 42u);

    // Every control reached the handler, in order; the dispatcher returned
    // TRUE only after service main had returned.
    auto lines = waitForRecord("dispatcher 1 0");
    std::vector<std::string> controls;
    for (const auto& line : lines) {
        if (line.rfind("control ", 0) == 0)
            controls.push_back(line);
    }
    EXPECT_EQ(controls, (std::vector<std::string>{"control 4", "control 2", "control 200", "control 4",
                                                  "control 3", "control 128", "control 255", "control 1"}));
    EXPECT_LT(indexOf(lines, "main returned"), indexOf(lines, "dispatcher 1 0"));

    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);

    // It starts again.
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_SHUTDOWN, &status)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_STOPPED));
}

TEST_F(ServiceRun, ControlsTheServiceDoesNotTakeAreRefused)
{
    SC_HANDLE service = install("Plain", "");
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status {};
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    struct Case {
        DWORD control;
        DWORD error;
    };
    const Case cases[] = {
        {SERVICE_CONTROL_PAUSE, ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_CONTINUE, ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_SHUTDOWN, ERROR_INVALID_SERVICE_CONTROL},
        {6, ERROR_INVALID_SERVICE_CONTROL},
        {0, ERROR_INVALID_PARAMETER},
        {11, ERROR_INVALID_PARAMETER},
        {256, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        status = SERVICE_STATUS {};
        EXPECT_FALSE(ControlService(service, c.control, &status));
        EXPECT_EQ(GetLastError(), c.error);
        if (c.error == ERROR_INVALID_SERVICE_CONTROL) {
            EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
        }
    }
    const auto lines = recordLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("control", 0) == 0; }),
              0);
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
}

TEST_F(ServiceRun, APendingServiceRefusesAndAKilledOneReadsStoppedWithProcessAborted)
{
    SC_HANDLE service = install("Pending", "--stay-pending");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(start(service)) << GetLastError();
    waitForRecord("main|Pending");
    ASSERT_EQ(query(service).dwCurrentState, SERVICE_START_PENDING);

    SERVICE_STATUS status {};
    for (const DWORD control : {DWORD(SERVICE_CONTROL_STOP), DWORD(SERVICE_CONTROL_INTERROGATE), DWORD(200)}) {
        EXPECT_FALSE(ControlService(service, control, &status));
        EXPECT_EQ(GetLastError(), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        EXPECT_EQ(status.dwCurrentState, SERVICE_START_PENDING);
    }
    EXPECT_FALSE(start(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);

    const int pid = servicePid("Pending");
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitForState(service, SERVICE_STOPPED));
    status = query(service);
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_PROCESS_ABORTED);
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
}

TEST_F(ServiceRun, AKilledRunningServiceReadsStoppedAndStartsAgain)
{
    SC_HANDLE service = install("Victim", "");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    const int pid = servicePid("Victim");
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitForState(service, SERVICE_STOPPED));
    EXPECT_EQ(query(service).dwWin32ExitCode, ERROR_PROCESS_ABORTED);

    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    EXPECT_NE(servicePid("Victim"), pid);
    SERVICE_STATUS status {};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
    EXPECT_EQ(query(service).dwWin32ExitCode, 0u);
}

TEST_F(ServiceRun, TheDispatcherOutsideTheManagerFailsWith1063)
{
    // A console launch of the service program.
    EXPECT_EQ(runTool({"service", "--record=" + recordPath}), 63);
    EXPECT_EQ(recordLines(), (std::vector<std::string>{"process", "dispatcher 0 1063"}));
    // A channel variable naming something that is no socket of a manager.
    ::setenv("QUILLON_SCM_CHANNEL", "1", 1);
    EXPECT_EQ(runTool({"service"}), 63);
    ::setenv("QUILLON_SCM_CHANNEL", "junk", 1);
    EXPECT_EQ(runTool({"service"}), 63);
    ::unsetenv("QUILLON_SCM_CHANNEL");

    // In this process as well; and no handler or status without a dispatcher.
    std::u16string name = u"Quillon";
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), [](DWORD, LPWSTR*) {}}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(RegisterServiceCtrlHandlerW(u"Quillon", [](DWORD) {}), nullptr);
    EXPECT_EQ(GetLastError(), 1083u);
    SERVICE_STATUS status {};
    EXPECT_FALSE(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(&status), &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ServiceRun, StartFailuresLeaveTheServiceStopped)
{
    SC_HANDLE missing = CreateServiceW(manager, u"Missing", nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, 1,
                                       u"\"/no/such/program\" -x", nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    ASSERT_NE(missing, nullptr);
    handles.push_back(missing);
    EXPECT_FALSE(start(missing));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query(missing).dwCurrentState, SERVICE_STOPPED);

    SC_HANDLE early = install("Early", "--exit-early");
    EXPECT_FALSE(start(early));
    EXPECT_EQ(GetLastError(), ERROR_PROCESS_ABORTED);
    EXPECT_EQ(query(early).dwCurrentState, SERVICE_STOPPED);

    SC_HANDLE disabled = install("Disabled", "", SERVICE_DISABLED);
    EXPECT_FALSE(start(disabled));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DISABLED);

    // A program that never connects is killed after the time-out.
    ::setenv("QUILLON_SCM_TIMEOUT_MS", "1500", 1);
    SC_HANDLE silent = install("Silent", "--no-dispatcher");
    EXPECT_FALSE(start(silent));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_REQUEST_TIMEOUT);
    ::unsetenv("QUILLON_SCM_TIMEOUT_MS");
    const SERVICE_STATUS status = query(silent);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_SERVICE_REQUEST_TIMEOUT);
    const int pid = servicePid("Silent");
    EXPECT_TRUE(pid <= 0 || processGone(pid));
}

TEST_F(ServiceRun, AHandlerThatDoesNotAnswerTimesOutAndControlsStayInOrder)
{
    SC_HANDLE service = install("Slow", "--slow-control=2500");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));

    ::setenv("QUILLON_SCM_TIMEOUT_MS", "500", 1);
    SERVICE_STATUS status {};
    EXPECT_FALSE(ControlService(service, 250, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_REQUEST_TIMEOUT);
    ::unsetenv("QUILLON_SCM_TIMEOUT_MS");
    // The next control waits its turn behind the slow one.
    EXPECT_TRUE(ControlService(service, 201, &status)) << GetLastError();
    const auto lines = waitForRecord("control 201");
    EXPECT_LT(indexOf(lines, "control 250 done"), indexOf(lines, "control 201"));
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
}

TEST_F(ServiceRun, SeveralProcessesStartAndControlAtOnce)
{
    SC_HANDLE service = install("Busy", "--slow-control=1000");
    ASSERT_NE(service, nullptr);
    constexpr int kProcesses = 4;
    std::vector<quillon::testing::RunningProgram> starters;
    for (int i = 0; i < kProcesses; ++i)
        starters.push_back(spawnTool({"start", "Busy"}));
    int started = 0;
    int running = 0;
    for (auto& starter : starters) {
        const int result = waitProgramFor(starter);
        started += result == 0;
        running += result == 1;
    }
    EXPECT_EQ(started, 1);
    EXPECT_EQ(running, kProcesses - 1);
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    const auto startedLines = recordLines();
    EXPECT_EQ(std::count(startedLines.begin(), startedLines.end(), std::string("process")), 1)
        << "one service process only";

    // A slow control first, then senders that queue behind it: each control
    // reaches the handler once, never two at a time.
    quillon::testing::RunningProgram slow = spawnTool({"control", "Busy", "250"});
    waitForRecord("control 250");
    std::vector<quillon::testing::RunningProgram> senders;
    for (int i = 0; i < kProcesses; ++i)
        senders.push_back(spawnTool({"control", "Busy", std::to_string(130 + i)}));
    EXPECT_EQ(waitProgramFor(slow), 0);
    for (auto& sender : senders)
        EXPECT_EQ(waitProgramFor(sender), 0);
    const auto lines = recordLines();
    const std::size_t done = indexOf(lines, "control 250 done");
    for (int i = 0; i < kProcesses; ++i) {
        const std::string line = "control " + std::to_string(130 + i);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
        EXPECT_GT(indexOf(lines, line), done) << line;
    }
    SERVICE_STATUS status {};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
}

TEST_F(ServiceRun, DeletingARunningServiceMarksItUntilItStops)
{
    SC_HANDLE service = install("Doomed", "");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    ASSERT_TRUE(DeleteService(service)) << GetLastError();

    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(CreateServiceW(manager, u"Doomed", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, 1, u"/bin/true", nullptr, nullptr, nullptr, nullptr,
                             nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    SERVICE_DESCRIPTIONW description {const_cast<LPWSTR>(u"d")};
    EXPECT_FALSE(ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);

    // Still there to be stopped.
    SC_HANDLE again = open("Doomed", SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_NE(again, nullptr);
    SERVICE_STATUS status {};
    EXPECT_TRUE(ControlService(again, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_TRUE(waitForState(again, SERVICE_STOPPED));

    EXPECT_EQ(OpenServiceW(manager, u"Doomed", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_NE(install("Doomed", ""), nullptr);
}

TEST_F(ServiceRun, TheServiceGetsTheSystemsEnvironmentNotItsStarters)
{
    SC_HANDLE service = install("Clean", "");
    ASSERT_NE(service, nullptr);
    // What an administrator gives the service, in its entry; the layer's own
    // variable cannot be changed that way.
    {
        std::ofstream entry(stateDir + "/services/clean.conf", std::ios::app);
        entry << "environment=QUILLON_GIVEN=by the administrator\nenvironment=QUILLON_STATE_DIR=/elsewhere\n";
    }
    ::setenv("LD_LIBRARY_PATH", "/tmp/planted", 1);
    ::setenv("QUILLON_SECRET_TOKEN", "the starter's", 1);
    ::setenv("PATH", ("/tmp/planted:" + std::string(std::getenv("PATH"))).c_str(), 1);
    const BOOL started = start(service);
    ::unsetenv("LD_LIBRARY_PATH");
    ::unsetenv("QUILLON_SECRET_TOKEN");
    ::setenv("PATH", std::string(std::getenv("PATH")).substr(std::strlen("/tmp/planted:")).c_str(), 1);
    ASSERT_TRUE(started) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));

    std::map<std::string, std::string> environment;
    for (const auto& line : recordLines()) {
        if (line.rfind("environment ", 0) != 0)
            continue;
        std::stringstream entries(line.substr(12));
        std::string entry;
        while (std::getline(entries, entry, '|'))
            environment[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
    }
    const passwd* self = ::getpwuid(::geteuid());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(environment["PATH"], "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");
    EXPECT_EQ(environment["HOME"], self->pw_dir);
    EXPECT_EQ(environment["USER"], self->pw_name);
    EXPECT_EQ(environment["LOGNAME"], self->pw_name);
    EXPECT_EQ(environment["SHELL"], self->pw_shell);
    EXPECT_EQ(environment["QUILLON_STATE_DIR"], stateDir);
    EXPECT_EQ(environment["QUILLON_GIVEN"], "by the administrator");
    std::set<std::string> rest;
    for (const auto& [name, value] : environment) {
        const bool locale = name == "LANG" || name == "LANGUAGE" || name.rfind("LC_", 0) == 0;
#ifdef QUILLON_SANITIZER_BUILD
        const bool sanitizer = name.size() > 8 && name.compare(name.size() - 8, 8, "_OPTIONS") == 0;
#else
        const bool sanitizer = false;
#endif
        if (!locale && !sanitizer)
            rest.insert(name);
    }
    EXPECT_EQ(rest, (std::set<std::string>{"HOME", "LOGNAME", "PATH", "QUILLON_GIVEN", "QUILLON_STATE_DIR", "SHELL",
                                           "USER"}));
    SERVICE_STATUS status {};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
}

TEST_F(ServiceRun, AQuotedProgramPathWithATabRunsThatProgram)
{
    // The program in a folder whose name holds a tab, beside its libraries,
    // and a program planted where an unquoted path would end.
    const std::string folder = stateDir + "/tab\tdir";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string bin = toolPath().substr(0, toolPath().rfind('/'));
    for (const char* file : {"/advapi32_test_tool", "/libquillon_advapi32.so", "/libquillon_kernel32.so"})
        ASSERT_EQ(std::system(("cp '" + bin + file + "' '" + folder + "/'").c_str()), 0) << file;
    const std::string marker = stateDir + "/planted-ran";
    {
        std::ofstream planted(stateDir + "/tab");
        planted << "#!/bin/sh\ntouch '" << marker << "'\n";
    }
    ASSERT_EQ(::chmod((stateDir + "/tab").c_str(), 0755), 0);
    const std::string commandLine = "\"" + folder + "/advapi32_test_tool\" service --record=" + recordPath;
    SC_HANDLE service = CreateServiceW(manager, u"Tabbed", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, 1, wide(commandLine).c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    handles.push_back(service);
    installed.push_back("Tabbed");
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    waitForRecord("main|Tabbed");
    SERVICE_STATUS status {};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
    EXPECT_NE(::access(marker.c_str(), F_OK), 0);
}

TEST_F(ServiceRun, RunsUnderTheRegisteredAccount)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "switching accounts needs root";
    // nobody must reach the state directory and the record file.
    ASSERT_EQ(::chmod(stateDir.c_str(), 0755), 0);
    ASSERT_EQ(::close(::open(recordPath.c_str(), O_WRONLY | O_CREAT, 0666)), 0);
    ASSERT_EQ(::chmod(recordPath.c_str(), 0666), 0);
    const std::string commandLine = "\"" + toolPath() + "\" service --record=" + recordPath;
    SC_HANDLE service = CreateServiceW(manager, u"Nobody", nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, 1,
                                       wide(commandLine).c_str(), nullptr, nullptr, nullptr,
                                       u".\\nobody", u"unused password");
    ASSERT_NE(service, nullptr) << GetLastError();
    handles.push_back(service);
    installed.push_back("Nobody");
    ASSERT_TRUE(start(service)) << GetLastError();
    ASSERT_TRUE(waitForState(service, SERVICE_RUNNING));
    expectDetachedAs(65534);
    // Its entries go to its account's folder, which root made for it; the
    // log root writes is not the account's.
    const auto entries = readEventLog(stateDir + "/eventlog/accounts/nobody/nobody.jsonl");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text.at("text"), "service main runs");
    struct stat folder {};
    ASSERT_EQ(::stat((stateDir + "/eventlog/accounts/nobody").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_uid, 65534u);
    EXPECT_NE(::access((stateDir + "/eventlog/nobody.jsonl").c_str(), F_OK), 0);
    SERVICE_STATUS status {};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(waitForState(service, SERVICE_STOPPED));
    EXPECT_EQ(query(service).dwWin32ExitCode, 0u);
}

} // namespace
