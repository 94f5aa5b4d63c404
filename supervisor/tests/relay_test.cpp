// The console relay: what the Java application writes, where it goes, and
// which reads count as markers.
#include "supervisor_fixture.h"

#include <algorithm>

using RelayTest = SupervisorTest;

TEST_F(RelayTest, StandardOutputGoesToTheDebugStreamOnTheConsole)
{
    script(QStringLiteral("startup;sleep:500;out:  hello from java  ;quit;shutdown"));
    TestService& service = makeService(Mode::Console);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return !messageTexts(QtDebugMsg).isEmpty(); }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(messageTexts(QtDebugMsg), QStringList{QStringLiteral("hello from java")});
    EXPECT_TRUE(messageTexts(QtWarningMsg).isEmpty()) << messageTexts(QtWarningMsg).join('|').toStdString();
}

TEST_F(RelayTest, StandardOutputIsDroppedUnderTheServiceManager)
{
    script(QStringLiteral("startup;sleep:500;out:hello from java;sleep:500;err:done;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return texts().contains(QStringLiteral("done\n")); }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(texts().join('\n').contains(QStringLiteral("hello from java")));
}

TEST_F(RelayTest, EachReadOfStandardErrorIsOneWarningOnTheConsole)
{
    script(QStringLiteral("startup;sleep:300;err:first line\\nsecond line;quit;shutdown"));
    TestService& service = makeService(Mode::Console);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return !messageTexts(QtWarningMsg).isEmpty(); }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(messageTexts(QtWarningMsg),
              QStringList{QStringLiteral("ERROR: \"first line\\nsecond line\\n\"")});
}

TEST_F(RelayTest, EachReadOfStandardErrorIsOneErrorEntryUnderTheServiceManager)
{
    script(QStringLiteral("startup;sleep:300;err:first line\\nsecond line;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return texts().size() >= 4; }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    const auto log = entries();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[3].type, QStringLiteral("error"));
    EXPECT_EQ(log[3].text, QStringLiteral("first line\nsecond line\n"));
    EXPECT_TRUE(messages().empty());
}

struct MarkersInOneReadCase
{
    const char* name;
    const char* script;
    int exitCode;
    // The entries when start had returned, then at the end (a stop ends the
    // run once start has returned, unless the run ended by itself).
    QStringList atStartReturn;
    QStringList atEnd;
};

class MarkersInOneReadTest : public SupervisorTest, public ::testing::WithParamInterface<MarkersInOneReadCase>
{
};

// A failed start-up's own entry, whose error text is the process object's.
QStringList withoutStartupFailure(QStringList texts)
{
    if (!texts.isEmpty() && texts.last().startsWith(QLatin1String("Unable to start up service: ")))
        texts.removeLast();
    return texts;
}

TEST_P(MarkersInOneReadTest, AreActedOnInTheOrderTheyStand)
{
    script(QString::fromLatin1(GetParam().script));
    TestService& service = makeService(Mode::Service);
    QStringList atStartReturn;
    const int exitCode = run([&] {
        atStartReturn = texts();
        if (GetParam().exitCode == 0) {
            EXPECT_TRUE(waitUntil([&] { return texts().size() >= GetParam().atEnd.size() - 3; }));
            service.stop();
        }
    });
    EXPECT_EQ(exitCode, GetParam().exitCode);
    EXPECT_EQ(withoutStartupFailure(atStartReturn), GetParam().atStartReturn);
    EXPECT_EQ(withoutStartupFailure(texts()), GetParam().atEnd);
    EXPECT_EQ(texts().size() - GetParam().atEnd.size(), GetParam().exitCode == 0 ? 0 : 1);
}

const QStringList startedUp{entry::startingUp, entry::processOk, entry::startupCompleted};
const QStringList quitAndStopped{entry::goingToShutdown, entry::shutdownCompleted, entry::stopped};

INSTANTIATE_TEST_SUITE_P(
    Orders, MarkersInOneReadTest,
    ::testing::Values(
        // Start-up completes (start returns: the service runs), then the
        // restart follows.
        MarkersInOneReadCase{"StartupThenRestart",
                             "raw:###QUILLSTARTUPCOMP###\\n###QUILLRESTART###\\n;quit;shutdown|startup;quit;shutdown", 0,
                             startedUp + QStringList{entry::doRestart},
                             startedUp + QStringList{entry::doRestart} + quitAndStopped + startedUp + quitAndStopped},
        // Java has said it shut down: the stop sends no quit command.
        MarkersInOneReadCase{"StartupThenShutdown",
                             "raw:###QUILLSTARTUPCOMP###\\n###QUILLSHUTDOWNCOMP###\\n;hang", 0,
                             startedUp + QStringList{entry::shutdownCompleted},
                             startedUp + QStringList{entry::shutdownCompleted, entry::stopped}},
        // Shut down before it started up: start-up failed.
        MarkersInOneReadCase{"ShutdownThenStartup",
                             "raw:###QUILLSHUTDOWNCOMP###\\n###QUILLSTARTUPCOMP###\\n;hang", 1,
                             QStringList{entry::startingUp, entry::processOk, entry::shutdownCompleted,
                                         entry::startupCompleted},
                             QStringList{entry::startingUp, entry::processOk, entry::shutdownCompleted,
                                         entry::startupCompleted}}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(RelayTest, SplitOrOtherCaseMarkersAreOrdinaryOutput)
{
    script(QStringLiteral("startup;sleep:500;raw:###QUILLSHUT;sleep:500;raw:DOWNCOMP###\\n;"
                          "sleep:500;out:###quillshutdowncomp###;quit;shutdown"));
    TestService& service = makeService(Mode::Console);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return messageTexts(QtDebugMsg).size() >= 3; }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(messageTexts(QtDebugMsg),
              (QStringList{QStringLiteral("###QUILLSHUT"), QStringLiteral("DOWNCOMP###"),
                           QStringLiteral("###quillshutdowncomp###")}));
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted,
                                    entry::stopped}));
}

class FloodTest : public SupervisorTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(FloodTest, StandardOutputArrivesWhole)
{
    constexpr int lines = 50000; // 3.2 MB
    script(QString::fromLatin1(GetParam()).arg(lines * 64));
    TestService& service = makeService(Mode::Console);
    qint64 printable = 0;
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] {
            printable = 0;
            for (const QString& text : messageTexts(QtDebugMsg)) {
                for (const QChar c : text)
                    printable += c.isSpace() ? 0 : 1;
            }
            return printable >= qint64(lines) * 63;
        }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(printable, qint64(lines) * 63);
    EXPECT_TRUE(messageTexts(QtDebugMsg).join(QString()).endsWith(
        QStringLiteral("%1").arg(lines, 10, 10, QLatin1Char('0')) + QString(53, QLatin1Char('.'))));
    EXPECT_EQ(texts().count(entry::startupCompleted), 1);
}

// In the start-up wait and once Java runs alike.
INSTANTIATE_TEST_SUITE_P(Phases, FloodTest,
                         ::testing::Values("flood:%1;sleep:300;startup;quit;shutdown",
                                           "startup;sleep:300;flood:%1;quit;shutdown"),
                         [](const auto& caseInfo) { return caseInfo.index == 0 ? "BeforeTheMarker" : "AfterTheMarker"; });

// No event-log entry and no console line can hold a zero byte; what follows
// one in a read is kept all the same.
TEST_F(RelayTest, NothingAfterAZeroByteOnStandardErrorIsLostFromTheEventLog)
{
    script(QStringLiteral("startup;sleep:300;err:before\\0after;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    const QString text = QStringLiteral("before") + QChar(QChar::ReplacementCharacter) + QStringLiteral("after\n");
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return hasEntry(text); }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    const auto log = entries();
    const auto error = std::find_if(log.begin(), log.end(), [&](const EventLogEntry& e) { return e.text == text; });
    ASSERT_NE(error, log.end());
    EXPECT_EQ(error->type, QStringLiteral("error"));
}

TEST_F(RelayTest, NothingAfterAZeroByteIsLostOnTheConsole)
{
    script(QStringLiteral("startup;sleep:300;err:before\\0after;sleep:300;out:out\\0put;quit;shutdown"));
    TestService& service = makeService(Mode::Console);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return !messageTexts(QtDebugMsg).isEmpty(); }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    // The warning shows the bytes as the stream quotes them.
    EXPECT_EQ(messageTexts(QtWarningMsg), QStringList{QStringLiteral("ERROR: \"before\\x00\"\"after\\n\"")});
    EXPECT_EQ(messageTexts(QtDebugMsg),
              QStringList{QStringLiteral("out") + QChar(QChar::ReplacementCharacter) + QStringLiteral("put")});
}

TEST_F(RelayTest, MarkerAfterAZeroByteInTheSameReadCounts)
{
    script(QStringLiteral("raw:junk\\0###QUILLSTARTUPCOMP###\\n;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] { service.stop(); });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted, entry::stopped}));
}
