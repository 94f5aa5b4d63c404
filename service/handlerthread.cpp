// The thread that sits in the service manager's dispatcher.
#include "eventlogwriter_p.h"
#include "serviceruntime_p.h"
#include "servicemanagerapi_p.h"
#include "threadsync_p.h"

#include "platform/system_error_text.h"

#include <QCoreApplication>

void HandlerThread::run()
{
    QtServiceBase* service = QtServiceBase::instance();
    if (service == nullptr)
        return;
    QString name = service->serviceName();
    SERVICE_TABLE_ENTRYW table[] = {
        {reinterpret_cast<LPWSTR>(name.data()), serviceMain},
        {nullptr, nullptr},
    };
    const bool ok = ServiceApi::StartServiceCtrlDispatcherW(table) != 0;
    dispatcherOk = ok;
    if (ok) {
        threadsync::releasing(this);
        return;
    }

    const DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        outsideServiceManager = true;
    } else if (serviceApiBound()) {
        const QString message = QCoreApplication::translate("QtServiceBase", "The Service failed to start [%1]")
                                    .arg(systemErrorText(error));
        writeEventLogEntry(name, EVENTLOG_ERROR_TYPE, 0, 0, message, QByteArray());
    }
    // The run waits for this before it goes on, so its state is still there.
    const RuntimeStateUse use;
    threadsync::releasing(this);
    if (use.state() != nullptr)
        releaseSynced(use.state()->argsReady);
}
