// A small service program for tests that need a process of its own. Its
// name comes from QUILLON_TEST_SERVICE_NAME; in the foreground it prints the
// arguments it sees and, when QUILLON_TEST_EXIT_CODE is set, ends its event
// loop with that code at once. QUILLON_TEST_START_MS makes its start take
// that long, handling events meanwhile (a stop ends it early);
// QUILLON_TEST_START_FAILS then makes the start fail with that code.
// QUILLON_TEST_STOP_MS makes its stop take that long.
#include "servicebase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

QString nameFromEnvironment()
{
    const QByteArray name = qgetenv("QUILLON_TEST_SERVICE_NAME");
    return name.isEmpty() ? QStringLiteral("QuillonTestService") : QString::fromLocal8Bit(name);
}

class TestService : public QtService<QCoreApplication>
{
public:
    TestService(int argc, char** argv)
        : QtService<QCoreApplication>(argc, argv, nameFromEnvironment())
    {
    }

protected:
    void start() override
    {
        std::printf("start:%s\n", QCoreApplication::arguments().join(QLatin1Char('|')).toLocal8Bit().constData());
        std::fflush(stdout);
        logMessage(QStringLiteral("started"), LogInformation);
        takeTime(qEnvironmentVariableIntValue("QUILLON_TEST_START_MS"));
        bool ok = false;
        const int failure = qEnvironmentVariableIntValue("QUILLON_TEST_START_FAILS", &ok);
        if (ok && !stopped) {
            logMessage(QStringLiteral("start failed"), LogError);
            failStart(failure);
            return;
        }
        const int code = qEnvironmentVariableIntValue("QUILLON_TEST_EXIT_CODE", &ok);
        if (ok)
            QCoreApplication::exit(code);
    }
    void stop() override
    {
        takeTime(qEnvironmentVariableIntValue("QUILLON_TEST_STOP_MS"));
        stopped = true;
        logMessage(QStringLiteral("stopped"), LogInformation);
    }
    void processCommand(int code) override
    {
        logMessage(QStringLiteral("command %1").arg(code), LogInformation);
    }

private:
    // A start that waits for its application, as the supervisor's does.
    void takeTime(int milliseconds)
    {
        QTimer pass;
        pass.start(5);
        QElapsedTimer waited;
        waited.start();
        while (!stopped && !waited.hasExpired(milliseconds))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    bool stopped = false;
};

} // namespace

int main(int argc, char** argv)
{
    TestService service(argc, argv);
    return service.exec();
}
