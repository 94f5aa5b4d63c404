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
    // quillonsvc with its libraries beside it (its run path is its own
    // folder) and a Java runtime of its own.
    const std::string dir = stateDir + "/program";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "/Java/bin' && cp '" + program + "' '" + dir
                           + "/' && ln -s \"$(dirname '" + program + "')/libquillon_advapi32.so\" '" + dir
                           + "/' && ln -s \"$(dirname '" + program + "')/libquillon_kernel32.so\" '" + dir
                           + "/' && : > '" + dir + "/quillon.jar'")
                              .c_str()),
              0);
    executable = dir + "/quillonsvc";
    const std::string startup = "echo '###QUILLSTARTUPCOMP###'\n";
    enum class End { JavaToldToExit, JavaNeverStarts, StopOption };
    const struct {
        const char* label;
        std::string java;
        End end;
        DWORD win32;
        DWORD specific;
    } cases[] = {
        {"Java ends by itself with 3",
         startup + "i=0\nwhile [ ! -e java.go ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i + 1)); done\nexit 3\n",
         End::JavaToldToExit, ERROR_SERVICE_SPECIFIC_ERROR, 3},
        {"Java ends before its start-up marker", "exit 4\n", End::JavaNeverStarts, ERROR_SERVICE_SPECIFIC_ERROR, 1},
        {"a clean stop",
         startup + "while read -r line && [ \"$line\" != QUIT ]; do :; done\necho '###QUILLSHUTDOWNCOMP###'\n",
         End::StopOption, 0, 0},
    };
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    for (const auto& c : cases) {
        const std::string java = dir + "/Java/bin/java";
        std::ofstream(java, std::ios::trunc) << "#!/bin/sh\n" << c.java;
        ASSERT_EQ(::chmod(java.c_str(), 0755), 0);
        ::unlink((dir + "/java.go").c_str());

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
    }
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

} // namespace
