// Helper program of the advapi32 tests, run as separate processes:
//   log <source> <count> <tag>   append <count> entries "<tag> <i>"
//   create <name> <command line> create a service; exit 0, or 1 when it exists
//   start <name>                 start it; exit 0, or 1 when it already runs
//   start-lowered <name>         the same from a process with other limits
//                                (open files 77, core size its hard limit)
//                                and niceness 7
//   control <name> <code>        send a control; exit 0 when it was accepted
//   delete <name>                delete it; exit 0 when it was deleted or marked
// Otherwise it is the test service (test_service.cpp).
#include "platform/win32_service.h"

#include "utf16.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

int runTestService(int argc, char** argv);

namespace {
std::u16string wide(const std::string& text)
{
    return quillon::linux_text::utf8ToUtf16(text);
}

int appendEntries(const std::string& source, int count, const std::string& tag)
{
    for (int i = 0; i < count; ++i) {
        HANDLE log = RegisterEventSourceW(nullptr, wide(source).c_str());
        if (log == nullptr)
            return 2;
        const std::u16string text = wide(tag + " " + std::to_string(i));
        LPCWSTR strings[] = {text.c_str()};
        const BOOL ok = ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings,
                                     nullptr);
        DeregisterEventSource(log);
        if (!ok)
            return 3;
    }
    return 0;
}

int createService(const std::string& name, const std::string& commandLine)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return 2;
    SC_HANDLE service = CreateServiceW(manager, wide(name).c_str(), nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, wide(commandLine).c_str(), nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (service != nullptr)
        return 0;
    return error == ERROR_SERVICE_EXISTS ? 1 : 2;
}
SC_HANDLE openService(const std::string& name, DWORD access, SC_HANDLE& manager)
{
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    return manager == nullptr ? nullptr : OpenServiceW(manager, wide(name).c_str(), access);
}

int startService(const std::string& name)
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = openService(name, SERVICE_START, manager);
    const BOOL ok = service != nullptr && StartServiceW(service, 0, nullptr);
    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : error == ERROR_SERVICE_ALREADY_RUNNING ? 1 : 2;
}

// A starter whose own limits and niceness its service must not get: as
// after "ulimit -n 77; ulimit -S -c unlimited; nice -n 7".
int startLowered(const std::string& name)
{
    rlimit files {77, 77};
    rlimit core {};
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || ::getrlimit(RLIMIT_CORE, &core) != 0)
        return 3;
    core.rlim_cur = core.rlim_max;
    if (::setrlimit(RLIMIT_CORE, &core) != 0 || ::setpriority(PRIO_PROCESS, 0, 7) != 0)
        return 3;
    return startService(name);
}

int controlService(const std::string& name, DWORD control)
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = openService(name, SERVICE_ALL_ACCESS, manager);
    SERVICE_STATUS status {};
    const BOOL ok = service != nullptr && ControlService(service, control, &status);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}
int deleteService(const std::string& name)
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = openService(name, DELETE, manager);
    const BOOL ok = service != nullptr && DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "log") == 0)
        return appendEntries(argv[2], std::atoi(argv[3]), argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "create") == 0)
        return createService(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "start") == 0)
        return startService(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "start-lowered") == 0)
        return startLowered(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "control") == 0)
        return controlService(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    if (argc == 3 && std::strcmp(argv[1], "delete") == 0)
        return deleteService(argv[2]);
    return runTestService(argc, argv);
}
