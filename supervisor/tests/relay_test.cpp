// The console relay: what the Java application writes, where it goes, and
// which reads count as markers.
#include "supervisor_fixture.h"

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
    EXPECT_TRUE(messageTexts(QtWarningMsg).isEmpty());
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

TEST_F(RelayTest, StartupMarkerWinsOverShutdownMarkerInTheSameRead)
{
    script(QStringLiteral("raw:###QUILLSHUTDOWNCOMP###\\n###QUILLSTARTUPCOMP###\\n;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] { service.stop(); });
    EXPECT_EQ(exitCode, 0);
    // The shut-down marker was not taken: stop still sends the quit command.
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted,
                                    entry::stopped}));
}

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

TEST_F(RelayTest, FloodOfStandardOutputArrivesWhole)
{
    constexpr int lines = 50000; // 3.2 MB
    script(QStringLiteral("startup;sleep:300;flood:%1;quit;shutdown").arg(lines * 64));
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
}
