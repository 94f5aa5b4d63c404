// The controller and install, against the service manager stand-in, which
// shows every argument passed and every handle left open.
#include "fake_fixture.h"
#include "servicebase_p.h"
#include "servicecontroller.h"

namespace {

const QString name = QStringLiteral("QuillonTest");
const std::u16string wideName = u"QuillonTest";

struct AccountCase {
    const char* label;
    const char* account;
    const char* password;
    bool hasAccount;
    std::u16string registeredAccount;
    bool hasPassword;
    std::u16string registeredPassword;
    DWORD serviceType;
};

std::ostream& operator<<(std::ostream& os, const AccountCase& c)
{
    return os << c.label;
}

class InstallAccounts : public FakeScmTest, public ::testing::WithParamInterface<AccountCase>
{
};

TEST_P(InstallAccounts, DecideTypeAccountAndPassword)
{
    const AccountCase& c = GetParam();
    RecordingService service({QStringLiteral("prog"), QStringLiteral("-i"), QString::fromUtf8(c.account),
                              QString::fromUtf8(c.password)});
    ASSERT_EQ(captureExec(service).exitCode, 0);
    fakescm::ServiceRecord record;
    ASSERT_TRUE(fakescm::findService(wideName, &record));
    EXPECT_EQ(record.hasAccount, c.hasAccount);
    EXPECT_EQ(record.account, c.registeredAccount);
    EXPECT_EQ(record.hasPassword, c.hasPassword);
    EXPECT_EQ(record.password, c.registeredPassword);
    EXPECT_EQ(record.serviceType, c.serviceType);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallAccounts,
    ::testing::Values(
        AccountCase{"emptyAccountIgnoresPassword", "", "pw", false, u"", false, u"", 0x110},
        AccountCase{"plainNameGetsLocalPrefix", "alice", "pw", true, u".\\alice", true, u"pw", 0x10},
        AccountCase{"emptyPasswordIsNull", "alice", "", true, u".\\alice", false, u"", 0x10},
        AccountCase{"localPrefixKept", ".\\alice", "pw", true, u".\\alice", true, u"pw", 0x10},
        AccountCase{"domainAccountKept", "CORP\\bob", "pw", true, u"CORP\\bob", true, u"pw", 0x10},
        AccountCase{"localSystemIsNoAccount", "LocalSystem", "pw", false, u"", false, u"", 0x110},
        AccountCase{"ntAuthorityLocalSystemIsNoAccount", "NT AUTHORITY\\LocalSystem", "pw", false, u"", false, u"",
                    0x110},
        AccountCase{"otherCaseIsALocalAccount", "localsystem", "pw", true, u".\\localsystem", true, u"pw", 0x10}),
    [](const ::testing::TestParamInfo<AccountCase>& param) { return std::string(param.param.label); });

TEST_F(FakeScmTest, InstallRegistersNamePathStartTypeAndDescription)
{
    struct Case {
        int mode;
        QString description;
        DWORD startType;
    };
    const Case cases[] = {{QtServiceBase::DemandStart, QString(), SERVICE_DEMAND_START},
                          {QtServiceBase::AutomaticStart, QStringLiteral("The Quillon server"), SERVICE_AUTO_START},
                          {5, QString(), SERVICE_DEMAND_START}};
    for (const Case& c : cases) {
        fakescm::reset();
        RecordingService service({QStringLiteral("prog"), QStringLiteral("-install")});
        service.setStartupMode(static_cast<QtServiceBase::StartupMode>(c.mode));
        service.setServiceDescription(c.description);
        ASSERT_EQ(captureExec(service).exitCode, 0);
        fakescm::ServiceRecord record;
        ASSERT_TRUE(fakescm::findService(wideName, &record));
        EXPECT_EQ(record.displayName, wideName);
        EXPECT_EQ(record.startType, c.startType);
        EXPECT_EQ(record.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(qs(record.binaryPath), ServiceBaseData::executablePath());
        EXPECT_EQ(qs(record.description), c.description);
        const auto opens = fakescm::opens();
        ASSERT_FALSE(opens.empty());
        EXPECT_TRUE(opens.back().manager);
        EXPECT_EQ(opens.back().access, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
    }
}

TEST_F(FakeScmTest, SecondInstallOfTheSameNameFails)
{
    fakescm::addService(wideName, SERVICE_STOPPED, 0);
    RecordingService service({QStringLiteral("prog")});
    ServiceBaseData data(&service, name);
    EXPECT_FALSE(data.install(QString(), QString()));
}

struct CommandCase {
    int code;
    DWORD state;
    bool result;
    std::vector<DWORD> sent;
};

TEST_F(FakeScmTest, SendCommandAcceptsZeroTo127OnARunningServiceOnly)
{
    const CommandCase cases[] = {
        {0, SERVICE_RUNNING, true, {128}},      {127, SERVICE_RUNNING, true, {255}},
        {128, SERVICE_RUNNING, false, {}},      {-1, SERVICE_RUNNING, false, {}},
        {5, SERVICE_STOPPED, false, {}},        {5, SERVICE_PAUSED, true, {133}},
    };
    for (const CommandCase& c : cases) {
        fakescm::reset();
        fakescm::addService(wideName, c.state, SERVICE_ACCEPT_STOP);
        QtServiceController controller(name);
        EXPECT_EQ(controller.sendCommand(c.code), c.result) << c.code;
        fakescm::ServiceRecord record;
        ASSERT_TRUE(fakescm::findService(wideName, &record));
        EXPECT_EQ(record.controlsReceived, c.sent) << c.code;
        if (c.code < 0 || c.code > 127) {
            EXPECT_TRUE(fakescm::opens().empty()) << "nothing is opened for a code out of range";
        }
    }
}

TEST_F(FakeScmTest, IsRunningForEveryStateButStopped)
{
    const std::pair<DWORD, bool> cases[] = {
        {SERVICE_STOPPED, false},         {SERVICE_START_PENDING, true}, {SERVICE_STOP_PENDING, true},
        {SERVICE_RUNNING, true},          {SERVICE_CONTINUE_PENDING, true}, {SERVICE_PAUSE_PENDING, true},
        {SERVICE_PAUSED, true},
    };
    for (const auto& [state, running] : cases) {
        fakescm::reset();
        fakescm::addService(wideName, state, 0);
        QtServiceController controller(name);
        EXPECT_EQ(controller.isRunning(), running) << state;
        EXPECT_TRUE(controller.isInstalled());
    }
    fakescm::reset();
    QtServiceController missing(name);
    EXPECT_FALSE(missing.isRunning());
    EXPECT_FALSE(missing.isInstalled());
}

TEST_F(FakeScmTest, StartPassesArgumentsAndFailsOnARunningService)
{
    fakescm::addService(wideName, SERVICE_STOPPED, 0);
    QtServiceController controller(name);
    EXPECT_TRUE(controller.start({QStringLiteral("a"), QStringLiteral("b c")}));
    fakescm::ServiceRecord record;
    ASSERT_TRUE(fakescm::findService(wideName, &record));
    ASSERT_EQ(record.startRequests.size(), 1u);
    EXPECT_EQ(record.startRequests[0], (std::vector<std::u16string>{u"a", u"b c"}));
    // Now start-pending, that is running.
    EXPECT_FALSE(controller.start());

    fakescm::reset();
    fakescm::addService(wideName, SERVICE_STOPPED, 0);
    EXPECT_TRUE(controller.start());
    ASSERT_TRUE(fakescm::findService(wideName, &record));
    EXPECT_TRUE(record.startRequests.at(0).empty());
}

TEST_F(FakeScmTest, StopPollsTenTimesForTheStoppedState)
{
    struct Case {
        int queriesUntilStopped;
        bool result;
    };
    // 0: stopped as the control returns; 10: on the last poll; 11 and never: too late.
    const Case cases[] = {{0, true}, {1, true}, {10, true}, {11, false}, {-1, false}};
    for (const Case& c : cases) {
        fakescm::reset();
        fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
        fakescm::setQueriesUntilStopped(wideName, c.queriesUntilStopped);
        QtServiceController controller(name);
        MessageCapture capture;
        EXPECT_EQ(controller.stop(), c.result) << c.queriesUntilStopped;
        EXPECT_TRUE(capture.warnings().empty());
    }
}

TEST_F(FakeScmTest, StopOfAStoppedServiceWarnsStoppingAndFails)
{
    fakescm::addService(wideName, SERVICE_STOPPED, SERVICE_ACCEPT_STOP);
    QtServiceController controller(name);
    MessageCapture capture;
    EXPECT_FALSE(controller.stop());
    ASSERT_EQ(capture.warnings().size(), 1u);
    EXPECT_EQ(capture.warnings()[0],
              QStringLiteral("stopping (The service has not been started.)"));
}

TEST_F(FakeScmTest, PauseAndResumeNeedAPausableService)
{
    fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    QtServiceController controller(name);
    EXPECT_FALSE(controller.pause());
    EXPECT_FALSE(controller.resume());
    fakescm::reset();
    fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE);
    EXPECT_TRUE(controller.pause());
    EXPECT_TRUE(controller.resume());
}

TEST_F(FakeScmTest, UninstallRemovesTheEntryWithoutStopping)
{
    fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    QtServiceController controller(name);
    EXPECT_TRUE(controller.uninstall());
    EXPECT_FALSE(controller.isInstalled());
    EXPECT_FALSE(controller.uninstall());
}

TEST_F(FakeScmTest, EachOperationAsksForItsAccess)
{
    fakescm::addService(wideName, SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE);
    QtServiceController controller(name);
    struct Case {
        const char* label;
        std::function<void()> operation;
        DWORD managerAccess;
        DWORD serviceAccess;
    };
    const Case cases[] = {
        {"isInstalled", [&] { controller.isInstalled(); }, 0, SERVICE_QUERY_CONFIG},
        {"isRunning", [&] { controller.isRunning(); }, 0, SERVICE_QUERY_STATUS},
        {"pause", [&] { controller.pause(); }, SC_MANAGER_CONNECT, SERVICE_PAUSE_CONTINUE},
        {"resume", [&] { controller.resume(); }, SC_MANAGER_CONNECT, SERVICE_PAUSE_CONTINUE},
        {"sendCommand", [&] { controller.sendCommand(1); }, SC_MANAGER_CONNECT, SERVICE_USER_DEFINED_CONTROL},
        {"stop", [&] { controller.stop(); }, SC_MANAGER_CONNECT, SERVICE_STOP | SERVICE_QUERY_STATUS},
        {"start", [&] { controller.start(); }, SC_MANAGER_CONNECT, SERVICE_START},
        {"uninstall", [&] { controller.uninstall(); }, SC_MANAGER_ALL_ACCESS, DELETE},
    };
    for (const Case& c : cases) {
        const std::size_t before = fakescm::opens().size();
        c.operation();
        const auto opens = fakescm::opens();
        ASSERT_GE(opens.size(), before + 2) << c.label;
        const auto& manager = opens[opens.size() - 2];
        const auto& service = opens[opens.size() - 1];
        EXPECT_TRUE(manager.manager) << c.label;
        EXPECT_EQ(manager.access, c.managerAccess) << c.label;
        EXPECT_EQ(service.access, c.serviceAccess) << c.label;
        EXPECT_EQ(fakescm::openHandleCount(), 0) << c.label;
    }
}

} // namespace
