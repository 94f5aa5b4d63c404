// The service base: the one service object of the program, its command-line
// dispatcher and its event-log writer.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <memory>

class QtServiceController;
class ServiceBaseData;

class QtServiceBase
{
public:
    // Fixed underlying types: callers may pass other values, which are
    // written as a success entry or installed as a demand start.
    enum LogMessageType : int { LogSuccess = 0, LogError = 1, LogWarning = 2, LogInformation = 3 };
    enum StartupMode : int { AutomaticStart = 0, DemandStart = 1 };
    enum ServiceFlag { Pausable = 0x1, Unstoppable = 0x2, StopsAtShutdown = 0x4 };
    using ServiceFlags = int;

    QtServiceBase(int argc, char** argv, const QString& name);
    virtual ~QtServiceBase();

    QtServiceBase(const QtServiceBase&) = delete;
    QtServiceBase& operator=(const QtServiceBase&) = delete;

    QString serviceName() const;
    QString serviceDescription() const;
    void setServiceDescription(const QString& description);
    StartupMode startupMode() const;
    void setStartupMode(StartupMode mode);
    ServiceFlags serviceFlags() const;
    void setFlags(ServiceFlags flags);

    int exec();

    void logMessage(const QString& message, LogMessageType type = LogSuccess, int id = 0,
                    uint category = 0, const QByteArray& data = QByteArray());

    static QtServiceBase* instance();

protected:
    virtual void start() = 0;
    virtual void stop();
    virtual void pause();
    virtual void resume();
    virtual void processCommand(int code);

    // From inside start: the start has failed and the service will not run.
    // The event loop is told to end with exitCode (which should say why: not
    // 0); under the service manager the service goes from start-pending
    // straight to stopped, with that code as its service-specific exit code,
    // and never reads as running. A start that returns without this call has
    // succeeded, and the service reads as running from then on. Meanwhile it
    // stays start-pending and takes a stop, which ends the run as a stop.
    void failStart(int exitCode);

    virtual void createApplication(int& argc, char** argv) = 0;
    virtual int runApplication() = 0;

private:
    friend class ServiceBaseData;
    friend class QtServiceControllerHandler;
    friend class QtServiceStarter;
    const std::unique_ptr<ServiceBaseData> d_ptr;
};

template <typename Application>
class QtService : public QtServiceBase
{
public:
    QtService(int argc, char** argv, const QString& name)
        : QtServiceBase(argc, argv, name)
    {
    }
    ~QtService() override = default;

protected:
    Application* application() const { return app; }

    void createApplication(int& argc, char** argv) override
    {
        app = new Application(argc, argv);
    }

    int runApplication() override { return Application::exec(); }

private:
    Application* app = nullptr;
};
