// A small service program for tests that need a process of its own. Its
// name comes from QUILLON_TEST_SERVICE_NAME; in the foreground it prints the
// arguments it sees and, when QUILLON_TEST_EXIT_CODE is set, ends its event
// loop with that code at once.
#include "servicebase.h"

#include <QCoreApplication>
#include <QStringList>

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
        bool ok = false;
        const int code = qEnvironmentVariableIntValue("QUILLON_TEST_EXIT_CODE", &ok);
        if (ok)
            QCoreApplication::exit(code);
    }
    void stop() override { logMessage(QStringLiteral("stopped"), LogInformation); }
    void processCommand(int code) override
    {
        logMessage(QStringLiteral("command %1").arg(code), LogInformation);
    }
};

} // namespace

int main(int argc, char** argv)
{
    TestService service(argc, argv);
    return service.exec();
}
