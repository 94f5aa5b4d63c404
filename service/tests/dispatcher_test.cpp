// The command-line dispatcher: every option form, its texts and exit codes,
// with the service manager stand-in.
#include "fake_fixture.h"
#include "servicebase_p.h"

namespace {

const QString name = QStringLiteral("QuillonTest");
const std::u16string wideName = u"QuillonTest";

enum class Preset { NotInstalled, Stopped, Running, RunningPausable };

void apply(Preset preset)
{
    switch (preset) {
    case Preset::NotInstalled:
        break;
    case Preset::Stopped:
        fakescm::addService(wideName, SERVICE_STOPPED, 0);
        break;
    case Preset::Running:
        fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
        break;
    case Preset::RunningPausable:
        fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE);
        break;
    }
}

struct OptionCase {
    const char* label;
    QStringList arguments; // after the program path
    Preset preset;
    int exitCode;
    std::string out;
    std::string err;
    std::vector<DWORD> controls; // received by the service
};

std::ostream& operator<<(std::ostream& os, const OptionCase& c)
{
    return os << c.label;
}

class DispatcherOptions : public FakeScmTest, public ::testing::WithParamInterface<OptionCase>
{
};

TEST_P(DispatcherOptions, PrintAndExitAsSpecified)
{
    const OptionCase& c = GetParam();
    apply(c.preset);
    // A console launch: the dispatcher fails the way it does outside the manager.
    fakescm::setDispatcherFailure(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    RecordingService service(QStringList{QStringLiteral("prog")} + c.arguments);
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_TRUE(outcome.warnings.empty());
    fakescm::ServiceRecord record;
    if (fakescm::findService(wideName, &record)) {
        EXPECT_EQ(record.controlsReceived, c.controls);
    }
    EXPECT_TRUE(service.calls.empty()) << "no option runs the service in this process";
}

const std::string help = "\nprog -[i|u|e|s|v|h]\n"
                         "\t-i(nstall) [account] [password]\t: Install the service, optionally using given account "
                         "and password\n"
                         "\t-u(ninstall)\t: Uninstall the service.\n"
                         "\t-e(xec)\t\t: Run as a regular application. Useful for debugging.\n"
                         "\t-t(erminate)\t: Stop the service.\n"
                         "\t-c(ommand) num\t: Send command code num to the service.\n"
                         "\t-v(ersion)\t: Print version and status information.\n"
                         "\t-h(elp)   \t: Show this help\n"
                         "\tNo arguments\t: Start the service.\n";

INSTANTIATE_TEST_SUITE_P(
    Table, DispatcherOptions,
    ::testing::Values(
        OptionCase{"installAlreadyInstalled", {"-i"}, Preset::Stopped, 0, "",
                   "The service QuillonTest is already installed\n", {}},
        OptionCase{"uninstall", {"-u"}, Preset::Stopped, 0, "The service QuillonTest has been uninstalled.\n", "", {}},
        OptionCase{"uninstallLongForm", {"-uninstall"}, Preset::Stopped, 0,
                   "The service QuillonTest has been uninstalled.\n", "", {}},
        OptionCase{"uninstallMissing", {"-u"}, Preset::NotInstalled, 0, "",
                   "The service QuillonTest is not installed\n", {}},
        OptionCase{"versionRunning", {"-v"}, Preset::Running, 0,
                   "The service\n\tQuillonTest\n\tprog\n\nis installed and running\n\n", "", {}},
        OptionCase{"versionStopped", {"-version"}, Preset::Stopped, 0,
                   "The service\n\tQuillonTest\n\tprog\n\nis installed and not running\n\n", "", {}},
        OptionCase{"versionMissing", {"-v"}, Preset::NotInstalled, 0,
                   "The service\n\tQuillonTest\n\tprog\n\nis not installed and not running\n\n", "", {}},
        OptionCase{"terminate", {"-t"}, Preset::Running, 0, "", "", {SERVICE_CONTROL_STOP}},
        OptionCase{"terminateLongForm", {"-terminate"}, Preset::Running, 0, "", "", {SERVICE_CONTROL_STOP}},
        OptionCase{"pause", {"-p"}, Preset::RunningPausable, 0, "", "", {SERVICE_CONTROL_PAUSE}},
        OptionCase{"pauseRefusedIsSilent", {"-pause"}, Preset::Running, 0, "", "", {}},
        OptionCase{"resume", {"-r"}, Preset::RunningPausable, 0, "", "", {SERVICE_CONTROL_CONTINUE}},
        OptionCase{"resumeLongForm", {"-resume"}, Preset::RunningPausable, 0, "", "", {SERVICE_CONTROL_CONTINUE}},
        OptionCase{"command5", {"-c", "5"}, Preset::Running, 0, "", "", {133}},
        OptionCase{"command127", {"-command", "127"}, Preset::Running, 0, "", "", {255}},
        OptionCase{"commandMissingNumber", {"-c"}, Preset::Running, 0, "", "", {128}},
        OptionCase{"commandNotANumber", {"-c", "abc"}, Preset::Running, 0, "", "", {128}},
        OptionCase{"commandHexIsNotDecimal", {"-c", "0x10"}, Preset::Running, 0, "", "", {128}},
        OptionCase{"commandOutOfRange", {"-c", "128"}, Preset::Running, 0, "", "", {}},
        OptionCase{"commandStopped", {"-c", "1"}, Preset::Stopped, 0, "", "", {}},
        OptionCase{"help", {"-h"}, Preset::NotInstalled, 0, help, "", {}},
        OptionCase{"helpLongForm", {"-help"}, Preset::NotInstalled, 0, help, "", {}},
        OptionCase{"runMissingService", {}, Preset::NotInstalled, -4, "", "The service QuillonTest could not start\n",
                   {}},
        OptionCase{"otherCaseRunsTheService", {"-I"}, Preset::NotInstalled, -4, "",
                   "The service QuillonTest could not start\n", {}},
        OptionCase{"doubleHyphenRunsTheService", {"--install"}, Preset::NotInstalled, -4, "",
                   "The service QuillonTest could not start\n", {}},
        OptionCase{"slashRunsTheService", {"/install"}, Preset::NotInstalled, -4, "",
                   "The service QuillonTest could not start\n", {}}),
    [](const ::testing::TestParamInfo<OptionCase>& param) { return std::string(param.param.label); });

TEST_F(FakeScmTest, InstallPrintsThePathAndCreatesTheEntry)
{
    RecordingService service({QStringLiteral("prog"), QStringLiteral("-i"), QStringLiteral("alice"),
                              QStringLiteral("secret")});
    const ExecOutcome outcome = captureExec(service);
    const QString path = ServiceBaseData::executablePath();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, "The service QuillonTest has been installed under: " + path.toStdString() + "\n");
    EXPECT_EQ(outcome.err, "");
    fakescm::ServiceRecord record;
    ASSERT_TRUE(fakescm::findService(wideName, &record));
    EXPECT_EQ(record.account, u".\\alice");
    EXPECT_EQ(record.password, u"secret");
}

TEST_F(FakeScmTest, ConsoleLaunchAsksTheManagerToStartWithTheArgumentsAfterTheProgram)
{
    fakescm::addService(wideName, SERVICE_STOPPED, 0);
    fakescm::setDispatcherFailure(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    const QStringList cases[] = {{}, {"-Install"}, {"--exec"}, {"/t"}, {"other", "-install"}};
    for (const QStringList& arguments : cases) {
        fakescm::reset();
        fakescm::addService(wideName, SERVICE_STOPPED, 0);
        fakescm::setDispatcherFailure(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        RecordingService service(QStringList{QStringLiteral("prog")} + arguments);
        const ExecOutcome outcome = captureExec(service);
        EXPECT_EQ(outcome.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.out + outcome.err, "");
        fakescm::ServiceRecord record;
        ASSERT_TRUE(fakescm::findService(wideName, &record));
        ASSERT_EQ(record.startRequests.size(), 1u);
        std::vector<std::u16string> expected;
        for (const QString& argument : arguments)
            expected.push_back(u16(argument));
        EXPECT_EQ(record.startRequests[0], expected);
        EXPECT_TRUE(fakescm::eventLog().empty()) << "a console launch writes no event log entry";
        EXPECT_TRUE(service.calls.empty());
    }
}

TEST_F(FakeScmTest, TerminateThatFailsWarnsAndExitsWithZero)
{
    RecordingService service({QStringLiteral("prog"), QStringLiteral("-t")});
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, 0);
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_TRUE(outcome.warnings[0].startsWith(QStringLiteral("The service could not be stopped.")))
        << outcome.warnings[0].toStdString();
}

TEST_F(FakeScmTest, StopOfAStoppedServiceWarnsStoppingThenCouldNotBeStopped)
{
    fakescm::addService(wideName, SERVICE_STOPPED, SERVICE_ACCEPT_STOP);
    RecordingService service({QStringLiteral("prog"), QStringLiteral("-t")});
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, 0);
    ASSERT_EQ(outcome.warnings.size(), 2u);
    EXPECT_TRUE(outcome.warnings[0].startsWith(QStringLiteral("stopping"))) << outcome.warnings[0].toStdString();
    EXPECT_TRUE(outcome.warnings[1].startsWith(QStringLiteral("The service could not be stopped.")));
}

// With no service manager at all every option reports its failure.
class NoServiceManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bindServiceApiLibraryForTesting(QStringLiteral(QUILLON_TEST_BINARY_DIR "/no-such-library.so"));
    }
    void TearDown() override { bindServiceApiLibraryForTesting(QString()); }
};

TEST_F(NoServiceManager, OptionsReportFailure)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        std::string out;
        std::string err;
        int warnings;
    };
    const Case cases[] = {
        {{"-i"}, -1, "", "The service QuillonTest could not be installed\n", 0},
        {{"-u"}, 0, "", "The service QuillonTest is not installed\n", 0},
        {{"-v"}, 0, "The service\n\tQuillonTest\n\tprog\n\nis not installed and not running\n\n", "", 0},
        {{"-t"}, 0, "", "", 1},
        {{"-p"}, 0, "", "", 0},
        {{"-r"}, 0, "", "", 0},
        {{"-c", "3"}, 0, "", "", 0},
        {{}, -4, "", "The service QuillonTest could not start\n", 0},
    };
    for (const Case& c : cases) {
        RecordingService service(QStringList{QStringLiteral("prog")} + c.arguments);
        const ExecOutcome outcome = captureExec(service);
        const std::string label = c.arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.exitCode, c.exitCode) << label;
        EXPECT_EQ(outcome.out, c.out) << label;
        EXPECT_EQ(outcome.err, c.err) << label;
        EXPECT_EQ(static_cast<int>(outcome.warnings.size()), c.warnings) << label;
    }
}

TEST(InstallCommandLine, PathWithABlankIsQuotedAndOneWithAQuoteHasNone)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Program Files\\Quillon\\quillonsvc.exe", "\"C:\\Program Files\\Quillon\\quillonsvc.exe\""},
        {"/opt/tab\tdir/quillonsvc", "\"/opt/tab\tdir/quillonsvc\""},
        {"C:\\Quillon\\quillonsvc.exe", "C:\\Quillon\\quillonsvc.exe"},
        {"/opt/q\"x y/quillonsvc", ""},
        {"/opt/q\"x/quillonsvc", ""},
    };
    for (const auto& [path, registered] : cases)
        EXPECT_EQ(ServiceBaseData::registeredCommandLine(QString::fromUtf8(path)), QString::fromUtf8(registered)) << path;
}

} // namespace
