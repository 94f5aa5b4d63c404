// The program as a process: exit codes, console texts and arguments, with
// the real service manager layer beside it in a state directory of its own.
#include "program_runner.h"
#include "trusted_copy.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>

#include <string>
#include <vector>

namespace {

const QString program = QStringLiteral(TEST_SERVICE_PATH);

// Root trusts a state directory only below folders root alone can change,
// wherever the build tree is.
QString stateDirectory()
{
    static const QString dir = QString::fromStdString(quillon::testing::trustedScratchFolder()) + "/state";
    QDir().mkpath(dir);
    return dir;
}

using quillon::testing::ProgramOutcome;

ProgramOutcome runProgram(const QStringList& arguments, const QString& serviceName,
                          const QList<QPair<QString, QString>>& extraEnvironment = {})
{
    quillon::testing::ProgramOptions options;
    options.set = {{"QUILLON_STATE_DIR", stateDirectory().toStdString()},
                   {"QUILLON_TEST_SERVICE_NAME", serviceName.toStdString()}};
    for (const auto& [key, value] : extraEnvironment)
        options.set.emplace_back(key.toStdString(), value.toStdString());
    std::vector<std::string> argv {program.toStdString()};
    for (const QString& argument : arguments)
        argv.push_back(argument.toStdString());
    return quillon::testing::runProgram(argv, options);
}

// Exit codes as the shell sees them: -1 and -4 are 255 and 252.
constexpr int exitMinus1 = 255;
constexpr int exitMinus4 = 252;

TEST(ServiceProcess, HelpNamesTheProgram)
{
    const ProgramOutcome outcome = runProgram({QStringLiteral("-h")}, QStringLiteral("QuillonProcHelp"));
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out.rfind("\n" + program.toStdString() + " -[i|u|e|s|v|h]\n", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("\tNo arguments\t: Start the service.\n"), std::string::npos);
}

TEST(ServiceProcess, ExecRunsInTheForegroundWithTheArgumentsAfterTheOption)
{
    const struct {
        const char* code;
        int exitCode;
    } cases[] = {{"0", 0}, {"3", 3}};
    for (const auto& c : cases) {
        const ProgramOutcome outcome =
            runProgram({QStringLiteral("-exec"), QStringLiteral("one"), QStringLiteral("-t")},
                       QStringLiteral("QuillonProcExec"), {{QStringLiteral("QUILLON_TEST_EXIT_CODE"), c.code}});
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.out, "start:" + program.toStdString() + "|one|-t\n");
        EXPECT_EQ(outcome.err, "");
    }
}

TEST(ServiceProcess, UnknownFormsRunTheServiceWhichIsNotInstalled)
{
    const QStringList cases[] = {{}, {"-I"}, {"--exec"}, {"/e"}, {"-Help"}, {"other", "-install"}};
    for (const QStringList& arguments : cases) {
        const ProgramOutcome outcome = runProgram(arguments, QStringLiteral("QuillonProcRun"));
        EXPECT_EQ(outcome.exitCode, exitMinus4) << arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "The service QuillonProcRun could not start\n");
    }
    // A launch from a console writes nothing to the event log.
    EXPECT_FALSE(QFile::exists(stateDirectory() + QStringLiteral("/eventlog/quillonprocrun.jsonl")));
}

TEST(ServiceProcess, OptionsForAServiceThatIsNotInstalled)
{
    const QString name = QStringLiteral("QuillonProcMissing");
    const struct {
        QStringList arguments;
        int exitCode;
        std::string out;
        std::string errPrefix;
    } cases[] = {
        {{"-u"}, 0, "", "The service QuillonProcMissing is not installed\n"},
        {{"-v"}, 0, "The service\n\tQuillonProcMissing\n\t" + program.toStdString() + "\n\nis not installed and not running\n\n", ""},
        {{"-t"}, 0, "", "The service could not be stopped."},
        {{"-terminate"}, 0, "", "The service could not be stopped."},
        {{"-p"}, 0, "", ""},
        {{"-r"}, 0, "", ""},
        {{"-c"}, 0, "", ""},
        {{"-c", "abc"}, 0, "", ""},
        {{"-command", "12"}, 0, "", ""},
    };
    for (const auto& c : cases) {
        const ProgramOutcome outcome = runProgram(c.arguments, name);
        const std::string label = c.arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.exitCode, c.exitCode) << label;
        EXPECT_EQ(outcome.out, c.out) << label;
        EXPECT_EQ(outcome.err.rfind(c.errPrefix, 0), 0u) << label << ": " << outcome.err;
        if (c.errPrefix.empty()) {
            EXPECT_EQ(outcome.err, "") << label;
        }
    }
}

TEST(ServiceProcess, NameChecksWarnAndCorrectTheName)
{
    const QString longName(300, QLatin1Char('q'));
    ProgramOutcome outcome = runProgram({QStringLiteral("-v")}, longName);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_NE(outcome.err.find("QtService: 'name' is longer than 255 characters."), std::string::npos);
    EXPECT_EQ(outcome.out.rfind("The service\n\t" + std::string(255, 'q') + "\n\t", 0), 0u);

    // The backslash becomes a character of code 0, which ends the name in
    // the printed text.
    outcome = runProgram({QStringLiteral("-v")}, QStringLiteral("a\\b"));
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_NE(outcome.err.find("QtService: 'name' contains backslashes '\\'."), std::string::npos);
    EXPECT_EQ(outcome.out.rfind("The service\n\ta\n\t", 0), 0u) << outcome.out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
