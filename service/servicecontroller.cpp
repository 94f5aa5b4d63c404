#include "servicecontroller.h"

#include "schandle_p.h"
#include "servicemanagerapi_p.h"

#include "platform/system_error_text.h"

#include <QtGlobal>

#include <vector>

class QtServiceControllerPrivate
{
public:
    QtServiceControllerPrivate(QtServiceController* owner, const QString& name)
        : q_ptr(owner)
        , serviceName(name)
    {
    }

    QtServiceController* q_ptr;
    const QString serviceName;

    LPCWSTR wideName() const { return reinterpret_cast<LPCWSTR>(serviceName.utf16()); }

    // Opens the manager and the service with the given access; both handles
    // close when the pair goes out of scope, the service first.
    struct OpenService {
        ScHandle manager;
        ScHandle service;
        explicit operator bool() const { return bool(service); }
    };

    OpenService open(DWORD managerAccess, DWORD serviceAccess) const
    {
        OpenService opened;
        opened.manager.reset(ServiceApi::OpenSCManagerW(nullptr, nullptr, managerAccess));
        if (opened.manager)
            opened.service.reset(ServiceApi::OpenServiceW(opened.manager.get(), wideName(), serviceAccess));
        return opened;
    }

    bool sendControl(DWORD serviceAccess, DWORD control) const
    {
        if (!resolveServiceApi())
            return false;
        const OpenService opened = open(SC_MANAGER_CONNECT, serviceAccess);
        if (!opened)
            return false;
        SERVICE_STATUS status{};
        return ServiceApi::ControlService(opened.service.get(), control, &status) != 0;
    }
};

namespace {

constexpr int stopPolls = 10;
constexpr DWORD stopPollIntervalMs = 200;
constexpr DWORD userControlBase = 128;

} // namespace

QtServiceController::QtServiceController(const QString& name)
    : d_ptr(std::make_unique<QtServiceControllerPrivate>(this, name))
{
}

QtServiceController::~QtServiceController() = default;

QString QtServiceController::serviceName() const
{
    return d_ptr->serviceName;
}

bool QtServiceController::isInstalled() const
{
    if (!resolveServiceApi())
        return false;
    return bool(d_ptr->open(0, SERVICE_QUERY_CONFIG));
}

bool QtServiceController::isRunning() const
{
    if (!resolveServiceApi())
        return false;
    const auto opened = d_ptr->open(0, SERVICE_QUERY_STATUS);
    if (!opened)
        return false;
    SERVICE_STATUS status{};
    if (!ServiceApi::QueryServiceStatus(opened.service.get(), &status))
        return false;
    return status.dwCurrentState != SERVICE_STOPPED;
}

bool QtServiceController::start(const QStringList& arguments)
{
    if (!resolveServiceApi())
        return false;
    const auto opened = d_ptr->open(SC_MANAGER_CONNECT, SERVICE_START);
    if (!opened)
        return false;
    // The strings stay owned by the list; the vector only points into them.
    std::vector<LPCWSTR> vector;
    vector.reserve(static_cast<std::size_t>(arguments.size()));
    for (const QString& argument : arguments)
        vector.push_back(reinterpret_cast<LPCWSTR>(argument.utf16()));
    return ServiceApi::StartServiceW(opened.service.get(), static_cast<DWORD>(vector.size()),
                                     vector.empty() ? nullptr : vector.data())
        != 0;
}

bool QtServiceController::start()
{
    return start(QStringList());
}

bool QtServiceController::stop()
{
    if (!resolveServiceApi())
        return false;
    const auto opened = d_ptr->open(SC_MANAGER_CONNECT, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!opened)
        return false;
    SERVICE_STATUS status{};
    if (!ServiceApi::ControlService(opened.service.get(), SERVICE_CONTROL_STOP, &status)) {
        qCritical("stopping (%s)", qPrintable(systemErrorText(GetLastError())));
        return false;
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    for (int poll = 0; poll < stopPolls; ++poll) {
        Sleep(stopPollIntervalMs);
        if (!ServiceApi::QueryServiceStatus(opened.service.get(), &status))
            return false;
        if (status.dwCurrentState == SERVICE_STOPPED)
            return true;
    }
    // The request stays with the service manager; the service may stop later.
    return false;
}

bool QtServiceController::pause()
{
    return d_ptr->sendControl(SERVICE_PAUSE_CONTINUE, SERVICE_CONTROL_PAUSE);
}

bool QtServiceController::resume()
{
    return d_ptr->sendControl(SERVICE_PAUSE_CONTINUE, SERVICE_CONTROL_CONTINUE);
}

bool QtServiceController::sendCommand(int code)
{
    if (code < 0 || code > 127)
        return false;
    if (!isRunning())
        return false;
    return d_ptr->sendControl(SERVICE_USER_DEFINED_CONTROL, userControlBase + static_cast<DWORD>(code));
}

bool QtServiceController::uninstall()
{
    if (!resolveServiceApi())
        return false;
    const auto opened = d_ptr->open(SC_MANAGER_ALL_ACCESS, DELETE);
    if (!opened)
        return false;
    return ServiceApi::DeleteService(opened.service.get()) != 0;
}
