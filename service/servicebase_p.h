// The service base's private record, shared by the dispatcher, the
// controller's install, the service run and the foreground run.
#pragma once

#include "servicebase.h"
#include "servicecontroller.h"

#include <QString>
#include <QStringList>

struct ServiceRuntimeState;

class ServiceBaseData
{
public:
    ServiceBaseData(QtServiceBase* owner, const QString& name);

    ServiceBaseData(const ServiceBaseData&) = delete;
    ServiceBaseData& operator=(const ServiceBaseData&) = delete;

    QtServiceBase* q_ptr;
    QString description;
    QtServiceBase::StartupMode startupMode = QtServiceBase::DemandStart;
    QtServiceBase::ServiceFlags flags = 0;
    QStringList args;
    QtServiceController controller;
    ServiceRuntimeState* runtimeState = nullptr;

    // Creates the service entry for this service; true when it was created.
    bool install(const QString& account, const QString& password);
    // The running executable's full path, empty when it cannot be read whole.
    static QString executablePath();
    // The command line registered for an executable: quoted when it has a space.
    static QString registeredCommandLine(const QString& executable);

    // The run under the service manager; true when a run took place and ended
    // or, launched from a console, when the start request succeeded.
    bool runAsService();
    // The run as a regular application; the event loop's exit code, or -1
    // when no application object could be made.
    int runAsApplication(const QStringList& arguments);

    // The service's own operations, for the runtime's helpers.
    void startService() { q_ptr->start(); }
    void stopService() { q_ptr->stop(); }
    void pauseService() { q_ptr->pause(); }
    void resumeService() { q_ptr->resume(); }
    void processServiceCommand(int code) { q_ptr->processCommand(code); }
};
