#include "service_fixture.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>

namespace quillon::advapi32::test {

namespace {
constexpr auto kWait = std::chrono::seconds(30);

std::string fileKeyOf(const std::string& name)
{
    std::string key;
    for (const char c : name)
        key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return key; // the tests use plain names
}
} // namespace

void ServiceTest::SetUp()
{
    StateDirTest::SetUp();
    recordPath = stateDir + "/record.txt";
    // Service processes have no stderr: their sanitizer reports go to files
    // here, which TearDown turns into failures.
    sanitizerLog = stateDir + "/sanitizer";
    for (const char* variable : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* old = std::getenv(variable);
        savedOptions.emplace_back(variable, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        const std::string value = (old != nullptr && *old != '\0' ? std::string(old) + ":" : std::string())
                                  + "log_path=" + sanitizerLog;
        ::setenv(variable, value.c_str(), 1);
    }
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
}

void ServiceTest::TearDown()
{
    for (const std::string& name : installed) {
        SC_HANDLE service = OpenServiceW(manager, wide(name).c_str(), SERVICE_QUERY_STATUS);
        SERVICE_STATUS status {};
        // The status check makes sure the pid is still the service's.
        if (service != nullptr && QueryServiceStatus(service, &status)
            && status.dwCurrentState != SERVICE_STOPPED) {
            // (During a start the record names the starting process.)
            const int pid = servicePid(name);
            if (pid > 0 && pid != ::getpid())
                ::kill(pid, SIGKILL);
        }
        if (service != nullptr)
            CloseServiceHandle(service);
    }
    for (SC_HANDLE h : handles)
        CloseServiceHandle(h);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    for (const auto& [variable, value] : savedOptions) {
        if (value)
            ::setenv(variable.c_str(), value->c_str(), 1);
        else
            ::unsetenv(variable.c_str());
    }
    if (DIR* dir = ::opendir(stateDir.c_str()); dir != nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("sanitizer", 0) == 0) {
                std::ifstream report(stateDir + "/" + name);
                std::stringstream text;
                text << report.rdbuf();
                ADD_FAILURE() << "sanitizer report of a service process:\n" << text.str();
            }
        }
        ::closedir(dir);
    }
    StateDirTest::TearDown();
}

SC_HANDLE ServiceTest::install(const std::string& name, const std::string& options, DWORD startType)
{
    return installProgram(name, toolPath(), options, startType);
}

SC_HANDLE ServiceTest::installProgram(const std::string& name, const std::string& program, const std::string& options,
                                      DWORD startType)
{
    const std::string commandLine = "\"" + program + "\" service --record=" + recordPath + " " + options;
    SC_HANDLE service = CreateServiceW(manager, wide(name).c_str(), nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                       startType, SERVICE_ERROR_NORMAL,
                                       wide(commandLine).c_str(), nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    EXPECT_NE(service, nullptr) << GetLastError();
    if (service != nullptr) {
        handles.push_back(service);
        installed.push_back(name);
    }
    return service;
}

SC_HANDLE ServiceTest::open(const std::string& name, DWORD access)
{
    SC_HANDLE service = OpenServiceW(manager, wide(name).c_str(), access);
    if (service != nullptr)
        handles.push_back(service);
    return service;
}

BOOL ServiceTest::start(SC_HANDLE service, const std::vector<std::string>& arguments)
{
    std::vector<std::u16string> wideArguments;
    for (const auto& a : arguments)
        wideArguments.push_back(wide(a));
    std::vector<LPCWSTR> argv;
    for (const auto& a : wideArguments)
        argv.push_back(a.c_str());
    return StartServiceW(service, static_cast<DWORD>(argv.size()), argv.empty() ? nullptr : argv.data());
}

SERVICE_STATUS ServiceTest::query(SC_HANDLE service)
{
    SERVICE_STATUS status {};
    EXPECT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
    return status;
}

bool ServiceTest::waitForState(SC_HANDLE service, DWORD state)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (query(service).dwCurrentState == state)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<std::string> ServiceTest::recordLines()
{
    std::vector<std::string> lines;
    std::ifstream in(recordPath);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> ServiceTest::waitForRecord(const std::string& wanted)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto lines = recordLines();
        for (const auto& line : lines) {
            if (line == wanted)
                return lines;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string all;
    for (const auto& l : recordLines())
        all += l + "\n";
    ADD_FAILURE() << "no record line: " << wanted << " in\n" << all;
    return recordLines();
}

int ServiceTest::servicePid(const std::string& name)
{
    // The manager's record of the process it started: there as soon as the
    // start has returned, before the service has published anything.
    std::ifstream in(stateDir + "/run/" + fileKeyOf(name) + "/instance");
    std::string field;
    if (!(in >> field) || field.rfind("pid=", 0) != 0)
        return -1;
    return std::stoi(field.substr(4));
}

} // namespace quillon::advapi32::test
