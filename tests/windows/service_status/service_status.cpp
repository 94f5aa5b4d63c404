// Prints what the service manager reports of a service (QueryServiceStatus):
//   service_status <name>  ->  "state <n> win32 <n> specific <n>"   exit code 0
//                              "absent" (no such service)             exit code 1
//                              "error <n>" (any other failure)        exit code 2
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct ServiceHandle {
    SC_HANDLE handle;
    explicit ServiceHandle(SC_HANDLE h) : handle(h) {}
    ~ServiceHandle()
    {
        if (handle != nullptr)
            CloseServiceHandle(handle);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
};

std::wstring wide(const char* text)
{
    std::wstring result;
    for (const char* c = text; *c != '\0'; ++c)
        result.push_back(static_cast<unsigned char>(*c));
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <service name>\n", argv[0]);
        return 2;
    }
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.handle == nullptr) {
        std::printf("error %lu\n", GetLastError());
        return 2;
    }
    const ServiceHandle service(OpenServiceW(manager.handle, wide(argv[1]).c_str(), SERVICE_QUERY_STATUS));
    if (service.handle == nullptr) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            std::printf("absent\n");
            return 1;
        }
        std::printf("error %lu\n", error);
        return 2;
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.handle, &status)) {
        std::printf("error %lu\n", GetLastError());
        return 2;
    }
    std::printf("state %lu win32 %lu specific %lu\n", status.dwCurrentState, status.dwWin32ExitCode,
                status.dwServiceSpecificExitCode);
    return 0;
}
