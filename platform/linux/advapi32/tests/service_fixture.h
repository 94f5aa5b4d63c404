// A state directory with the test service installed under a few names, and
// the waits the service tests need (generous: the machine may be loaded).
#pragma once

#include "test_support.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::advapi32::test {

class ServiceTest : public StateDirTest {
protected:
    void SetUp() override;
    void TearDown() override; // kills every service process still alive

    // Installs the test service with these options; returns an all-access handle.
    SC_HANDLE install(const std::string& name, const std::string& options, DWORD startType = SERVICE_DEMAND_START);
    // The same with another copy of the test service as its program.
    SC_HANDLE installProgram(const std::string& name, const std::string& program, const std::string& options,
                             DWORD startType = SERVICE_DEMAND_START);
    SC_HANDLE open(const std::string& name, DWORD access);
    BOOL start(SC_HANDLE service, const std::vector<std::string>& arguments = {});
    SERVICE_STATUS query(SC_HANDLE service);
    // Waits until QueryServiceStatus reports the state (up to 30 s).
    bool waitForState(SC_HANDLE service, DWORD state);
    // Waits until the record file holds the line (up to 30 s); all lines.
    std::vector<std::string> waitForRecord(const std::string& line);
    std::vector<std::string> recordLines();
    int servicePid(const std::string& name);

    std::string recordPath;
    SC_HANDLE manager = nullptr;
    std::vector<SC_HANDLE> handles;
    std::vector<std::string> installed;

private:
    std::string sanitizerLog;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedOptions;
};

} // namespace quillon::advapi32::test
