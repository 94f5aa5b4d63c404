// The command-line dispatcher: element 1 of the arguments picks one action.
#include "servicebase.h"
#include "servicebase_p.h"

#include "platform/system_error_text.h"
#include "platform/win32_base.h"

#include <QtGlobal>

#include <cstdio>

namespace {

const char helpText[] =
    "\n%s -[i|u|e|s|v|h]\n"
    "\t-i(nstall) [account] [password]\t: Install the service, optionally using given account and password\n"
    "\t-u(ninstall)\t: Uninstall the service.\n"
    "\t-e(xec)\t\t: Run as a regular application. Useful for debugging.\n"
    "\t-t(erminate)\t: Stop the service.\n"
    "\t-c(ommand) num\t: Send command code num to the service.\n"
    "\t-v(ersion)\t: Print version and status information.\n"
    "\t-h(elp)   \t: Show this help\n"
    "\tNo arguments\t: Start the service.\n";

bool isOption(const QString& argument, const char* shortForm, const char* longForm)
{
    return argument == QLatin1String(shortForm) || argument == QLatin1String(longForm);
}

QString argumentAt(const QStringList& args, int index)
{
    return index < args.size() ? args.at(index) : QString();
}

} // namespace

int QtServiceBase::exec()
{
    ServiceBaseData& d = *d_ptr;
    const QByteArray name = serviceName().toLatin1();
    const QString option = argumentAt(d.args, 1);

    if (d.args.size() > 1) {
        if (isOption(option, "-i", "-install")) {
            if (d.controller.isInstalled()) {
                std::fprintf(stderr, "The service %s is already installed\n", name.constData());
                return 0;
            }
            if (!d.install(argumentAt(d.args, 2), argumentAt(d.args, 3))) {
                std::fprintf(stderr, "The service %s could not be installed\n", name.constData());
                return -1;
            }
            std::printf("The service %s has been installed under: %s\n", name.constData(),
                        ServiceBaseData::executablePath().toLatin1().constData());
            return 0;
        }
        if (isOption(option, "-u", "-uninstall")) {
            if (!d.controller.isInstalled()) {
                std::fprintf(stderr, "The service %s is not installed\n", name.constData());
                return 0;
            }
            if (!d.controller.uninstall()) {
                std::fprintf(stderr, "The service %s could not be uninstalled\n", name.constData());
                return -1;
            }
            std::printf("The service %s has been uninstalled.\n", name.constData());
            return 0;
        }
        if (isOption(option, "-v", "-version")) {
            const bool installed = d.controller.isInstalled();
            const bool running = d.controller.isRunning();
            std::printf("The service\n\t%s\n\t%s\n\n", name.constData(), argumentAt(d.args, 0).toLatin1().constData());
            std::printf("is %s", installed ? "installed" : "not installed");
            std::printf(" and %s\n\n", running ? "running" : "not running");
            return 0;
        }
        if (isOption(option, "-e", "-exec")) {
            d.args.removeAt(1);
            const int result = d.runAsApplication(d.args);
            if (result == -1)
                qCritical("The service could not be executed. (%s)", qPrintable(systemErrorText(GetLastError())));
            return result;
        }
        if (isOption(option, "-t", "-terminate")) {
            if (!d.controller.stop())
                qCritical("The service could not be stopped. (%s)", qPrintable(systemErrorText(GetLastError())));
            return 0;
        }
        if (isOption(option, "-p", "-pause")) {
            d.controller.pause();
            return 0;
        }
        if (isOption(option, "-r", "-resume")) {
            d.controller.resume();
            return 0;
        }
        if (isOption(option, "-c", "-command")) {
            // A missing or malformed number reads as 0.
            d.controller.sendCommand(argumentAt(d.args, 2).toInt(nullptr, 10));
            return 0;
        }
        if (isOption(option, "-h", "-help")) {
            std::printf(helpText, argumentAt(d.args, 0).toLatin1().constData());
            return 0;
        }
    }

    if (!d.runAsService()) {
        std::fprintf(stderr, "The service %s could not start\n", name.constData());
        return -4;
    }
    return 0;
}
