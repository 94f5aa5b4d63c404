// The outside view of one installed service, addressed by its name. Every
// operation opens and closes its own service manager handles.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QtServiceControllerPrivate;

class QtServiceController
{
public:
    explicit QtServiceController(const QString& name);
    virtual ~QtServiceController();

    QtServiceController(const QtServiceController&) = delete;
    QtServiceController& operator=(const QtServiceController&) = delete;

    bool isInstalled() const;
    bool isRunning() const;
    QString serviceName() const;

    bool start(const QStringList& arguments);
    bool start();
    bool stop();
    bool pause();
    bool resume();
    bool sendCommand(int code);
    bool uninstall();

private:
    std::unique_ptr<QtServiceControllerPrivate> d_ptr;
};
