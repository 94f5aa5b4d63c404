#include "service_fixture.h"

#include <fstream>
#include <functional>
#include <sstream>

using namespace quillon::advapi32::test;

namespace {

class RegistryTest : public ServiceTest {
protected:
    SC_HANDLE create(const std::u16string& name, DWORD type = SERVICE_WIN32_OWN_PROCESS,
                     DWORD startType = SERVICE_DEMAND_START, DWORD errorControl = SERVICE_ERROR_NORMAL,
                     LPCWSTR path = u"/bin/true", LPCWSTR account = nullptr,
                     LPCWSTR dependencies = nullptr, LPCWSTR displayName = nullptr)
    {
        SC_HANDLE service = CreateServiceW(manager, name.c_str(), displayName, SERVICE_ALL_ACCESS, type,
                                           startType, errorControl, path, nullptr, nullptr,
                                           dependencies, account, u"secret");
        if (service != nullptr)
            handles.push_back(service);
        return service;
    }
};

TEST_F(RegistryTest, CreateOpenDescribeDelete)
{
    SC_HANDLE created = create(u"Quillon", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                               SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                               u"\"/opt/Quillon Server/quillonsvc\"");
    ASSERT_NE(created, nullptr) << GetLastError();
    SERVICE_DESCRIPTIONW description {const_cast<LPWSTR>(u"Runs the Quillon application")};
    EXPECT_TRUE(ChangeServiceConfig2W(created, SERVICE_CONFIG_DESCRIPTION, &description));

    const std::string entry = readText(stateDir + "/services/quillon.conf");
    for (const char* field : {"name=Quillon\n", "displayName=Quillon\n",
                              "commandLine=\"/opt/Quillon Server/quillonsvc\"\n", "type=272\n",
                              "startType=2\n", "errorControl=1\n", "account=\n",
                              "description=Runs the Quillon application\n"})
        EXPECT_NE(entry.find(field), std::string::npos) << field << " in\n" << entry;
    EXPECT_EQ(entry.find("secret"), std::string::npos); // the password is never kept

    // Names compare without regard to case; a second install is refused.
    SC_HANDLE opened = open("QUILLON", SERVICE_QUERY_CONFIG);
    EXPECT_NE(opened, nullptr);
    EXPECT_EQ(create(u"quillon"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);

    const SERVICE_STATUS never = query(created);
    EXPECT_EQ(never.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(never.dwWin32ExitCode, ERROR_SERVICE_NEVER_STARTED);
    EXPECT_EQ(never.dwServiceType, SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS);

    EXPECT_TRUE(DeleteService(open("Quillon", DELETE)));
    EXPECT_EQ(OpenServiceW(manager, u"Quillon", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(DeleteService(created));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    // And the name is free again.
    EXPECT_NE(create(u"Quillon"), nullptr);
}

TEST_F(RegistryTest, BadInputIsRefusedWithTheWindowsCodes)
{
    ASSERT_NE(create(u"Taken", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     u"/bin/true", nullptr, nullptr, u"Taken Display"),
              nullptr);
    const std::u16string tooLong(257, u'a');
    struct Case {
        const char* what;
        std::u16string name;
        DWORD type;
        DWORD startType;
        DWORD errorControl;
        LPCWSTR path;
        LPCWSTR account;
        LPCWSTR dependencies;
        LPCWSTR displayName;
        DWORD error;
    };
    const DWORD own = SERVICE_WIN32_OWN_PROCESS;
    const Case cases[] = {
        {"empty name", u"", own, 3, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_NAME},
        {"slash", u"a/b", own, 3, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_NAME},
        {"backslash", u"a\\b", own, 3, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_NAME},
        {"257 characters", tooLong, own, 3, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_NAME},
        {"no program", u"x", own, 3, 1, nullptr, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"empty program", u"x", own, 3, 1, u"", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"shared process", u"x", 0x20, 3, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"driver", u"x", 0x1, 3, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"interactive with account", u"x", own | SERVICE_INTERACTIVE_PROCESS, 3, 1, u"/bin/true",
         u".\\root", nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"boot start", u"x", own, 0, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"start type 5", u"x", own, 5, 1, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"error control 4", u"x", own, 3, 4, u"/bin/true", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"dependencies", u"x", own, 3, 1, u"/bin/true", nullptr, u"Other\0", nullptr, ERROR_INVALID_PARAMETER},
        {"unknown account", u"x", own, 3, 1, u"/bin/true", u".\\no-such-user-quillon", nullptr, nullptr,
         ERROR_INVALID_SERVICE_ACCOUNT},
        {"display name taken", u"x", own, 3, 1, u"/bin/true", nullptr, nullptr, u"taken display", 1078},
        {"display name is a service name", u"x", own, 3, 1, u"/bin/true", nullptr, nullptr, u"TAKEN", 1078},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(create(c.name, c.type, c.startType, c.errorControl, c.path, c.account, c.dependencies,
                         c.displayName),
                  nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(OpenServiceW(manager, u"x", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(RegistryTest, AccountsAreCheckedAndLocalSystemMeansNone)
{
    // The accounts quillonsvc registers: ".\name", and LocalSystem in both forms.
    ASSERT_NE(create(u"Local", SERVICE_WIN32_OWN_PROCESS, 3, 1, u"/bin/true", u".\\root"), nullptr);
    EXPECT_NE(readText(stateDir + "/services/local.conf").find("account=.\\\\root\n"), std::string::npos);
    ASSERT_NE(create(u"System", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, 3, 1, u"/bin/true",
                     u"NT AUTHORITY\\LocalSystem"),
              nullptr);
    EXPECT_NE(readText(stateDir + "/services/system.conf").find("account=\n"), std::string::npos);
}

TEST_F(RegistryTest, HandlesCarryTheirAccessRights)
{
    ASSERT_NE(create(u"Quillon"), nullptr);
    SC_HANDLE connectOnly = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(connectOnly, nullptr);
    EXPECT_EQ(CreateServiceW(connectOnly, u"Other", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             3, 1, u"/bin/true", nullptr, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // A manager opened with no access at all may still open services.
    SC_HANDLE noAccess = OpenSCManagerW(nullptr, nullptr, 0);
    ASSERT_NE(noAccess, nullptr);
    SC_HANDLE config = OpenServiceW(noAccess, u"Quillon", SERVICE_QUERY_CONFIG);
    ASSERT_NE(config, nullptr);

    SERVICE_STATUS status {};
    SERVICE_DESCRIPTIONW description {const_cast<LPWSTR>(u"d")};
    const std::pair<const char*, std::function<BOOL()>> cases[] = {
        {"query", [&] { return QueryServiceStatus(config, &status); }},
        {"start", [&] { return StartServiceW(config, 0, nullptr); }},
        {"stop", [&] { return ControlService(config, SERVICE_CONTROL_STOP, &status); }},
        {"pause", [&] { return ControlService(config, SERVICE_CONTROL_PAUSE, &status); }},
        {"interrogate", [&] { return ControlService(config, SERVICE_CONTROL_INTERROGATE, &status); }},
        {"user control", [&] { return ControlService(config, 128, &status); }},
        {"describe", [&] { return ChangeServiceConfig2W(config, SERVICE_CONFIG_DESCRIPTION, &description); }},
        {"delete", [&] { return DeleteService(config); }},
    };
    for (const auto& [what, call] : cases) {
        SCOPED_TRACE(what);
        SetLastError(0);
        EXPECT_FALSE(call());
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }

    // Generic read maps to the query rights.
    SC_HANDLE reader = OpenServiceW(noAccess, u"Quillon", 0x80000000UL);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(QueryServiceStatus(reader, &status));
    for (SC_HANDLE h : {reader, config, noAccess, connectOnly})
        EXPECT_TRUE(CloseServiceHandle(h));
}

TEST_F(RegistryTest, HandlesAndManagersThatAreNotThere)
{
    EXPECT_EQ(OpenSCManagerW(u"\\\\no-such-host.invalid", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), 1722u);
    EXPECT_EQ(OpenSCManagerW(nullptr, u"SomeOtherDatabase", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DATABASE_DOES_NOT_EXIST);
    SC_HANDLE local = OpenSCManagerW(u"localhost", u"ServicesActive", SC_MANAGER_CONNECT);
    ASSERT_NE(local, nullptr);
    EXPECT_TRUE(CloseServiceHandle(local));
    EXPECT_FALSE(CloseServiceHandle(local));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    SERVICE_STATUS status {};
    EXPECT_FALSE(QueryServiceStatus(manager, &status)); // a manager is no service
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenServiceW(nullptr, u"Quillon", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenServiceW(manager, u"Missing", SERVICE_QUERY_CONFIG), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(RegistryTest, ConcurrentCreatorsInSeveralProcesses)
{
    constexpr int kProcesses = 6;
    std::vector<quillon::testing::RunningProgram> sameName;
    std::vector<quillon::testing::RunningProgram> ownNames;
    for (int i = 0; i < kProcesses; ++i) {
        sameName.push_back(spawnTool({"create", "Contended", "/bin/true"}));
        ownNames.push_back(spawnTool({"create", "Own" + std::to_string(i), "/bin/true"}));
    }
    int created = 0;
    int exists = 0;
    for (auto& tool : sameName) {
        const int result = waitProgramFor(tool);
        created += result == 0;
        exists += result == 1;
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(exists, kProcesses - 1);
    for (auto& tool : ownNames)
        EXPECT_EQ(waitProgramFor(tool), 0);
    for (int i = 0; i < kProcesses; ++i)
        EXPECT_NE(open("Own" + std::to_string(i), SERVICE_QUERY_CONFIG), nullptr) << i;
    EXPECT_NE(open("Contended", SERVICE_QUERY_CONFIG), nullptr);
}

} // namespace
