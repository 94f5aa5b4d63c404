// Creating the service entry, and the executable path it registers.
#include "schandle_p.h"
#include "servicebase_p.h"
#include "servicemanagerapi_p.h"

#include "platform/win32_base.h"

namespace {

// The account to register, or an empty string for LocalSystem.
QString accountToRegister(const QString& account)
{
    if (account.isEmpty())
        return QString();
    QString qualified = account;
    if (!qualified.contains(QLatin1Char('\\')))
        qualified.prepend(QLatin1String(".\\"));
    if (qualified.endsWith(QLatin1String("\\LocalSystem"), Qt::CaseSensitive))
        return QString();
    return qualified;
}

LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

} // namespace

// An unquoted path with a blank (space or tab) lets the service manager take
// a prefix of the path for the program ("C:\Program.exe" for
// "C:\Program Files\..."), so such a path is registered in quotes. A quote
// would end the quoted program early and cannot be escaped there (no Windows
// path holds one): such a path gives no command line, and the install fails.
QString ServiceBaseData::registeredCommandLine(const QString& executable)
{
    if (executable.contains(QLatin1Char('"')))
        return QString();
    if (executable.contains(QLatin1Char(' ')) || executable.contains(QLatin1Char('\t')))
        return QLatin1Char('"') + executable + QLatin1Char('"');
    return executable;
}

QString ServiceBaseData::executablePath()
{
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    // A path that does not fit comes back cut short; a cut path would name
    // another file, so it counts as no path at all.
    if (length == 0 || length >= MAX_PATH)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), static_cast<int>(length));
}

bool ServiceBaseData::install(const QString& account, const QString& password)
{
    if (!resolveServiceApi())
        return false;
    ScHandle manager(ServiceApi::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;

    const QString registeredAccount = accountToRegister(account);
    const bool useAccount = !registeredAccount.isEmpty();
    const bool passPassword = useAccount && !password.isEmpty();
    const QString executable = executablePath();
    if (executable.isEmpty())
        return false;
    const QString commandLine = registeredCommandLine(executable);
    if (commandLine.isEmpty())
        return false;
    const QString name = controller.serviceName();

    const DWORD serviceType =
        useAccount ? SERVICE_WIN32_OWN_PROCESS : (SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS);
    const DWORD startType = startupMode == QtServiceBase::AutomaticStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START;

    ScHandle service(ServiceApi::CreateServiceW(
        manager.get(), wide(name), wide(name), SERVICE_ALL_ACCESS, serviceType, startType,
        SERVICE_ERROR_NORMAL, wide(commandLine), nullptr, nullptr, nullptr,
        useAccount ? wide(registeredAccount) : nullptr, passPassword ? wide(password) : nullptr));
    if (!service)
        return false;
    if (!description.isEmpty()) {
        QString text = description;
        SERVICE_DESCRIPTIONW info{reinterpret_cast<LPWSTR>(text.data())};
        ServiceApi::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &info);
    }
    return true;
}
