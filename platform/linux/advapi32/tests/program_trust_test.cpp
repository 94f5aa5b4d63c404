// 12: the program root runs as root. It, its folder and every folder above
// it must be root's alone (the rule of the state directory), or the manager
// neither registers nor starts it, and says which path is wrong and why. A
// service under an account runs as that user and is not concerned.
#include "security_fixture.h"

#include <cstdlib>

using namespace quillon::advapi32::test;

namespace {

class ProgramTrust : public Security {
protected:
    std::string toolName() const { return toolPath().substr(toolPath().rfind('/') + 1); }
    // The test service and the libraries beside it, copied into a folder.
    std::string copyCommand(const std::string& folder) const
    {
        return "cp '" + toolPath().substr(0, toolPath().rfind('/')) + "'/* '" + folder + "/'";
    }
    // Registers the program in a process of its own, as root: its exit code
    // and what the manager said.
    quillon::testing::ProgramOutcome create(const std::string& name, const std::string& program)
    {
        return quillon::testing::runProgram(
            {toolPath(), "create", name, "\"" + program + "\" service --record=" + recordPath});
    }
};

TEST_F(ProgramTrust, Row12_RootRegistersOnlyAProgramRootAloneCanChange)
{
    // Laid out by the attacker where anyone may make folders, like /tmp.
    const std::string theirs = playground + "/theirs";
    ASSERT_EQ(attack("mkdir '" + theirs + "' && " + copyCommand(theirs)), 0);
    const std::string theirsHoldingRoots = playground + "/theirs-holding-roots";
    ASSERT_EQ(attack("mkdir '" + theirsHoldingRoots + "'"), 0);
    ASSERT_EQ(std::system(copyCommand(theirsHoldingRoots).c_str()), 0);
    const std::string theirLink = playground + "/their-link";
    ASSERT_EQ(attack("ln -s '" + toolPath() + "' '" + theirLink + "'"), 0);
    // Root's own slips: a folder its group may change, a program handed to a
    // user (as an archive unpacked with its owners kept does).
    const std::string group = rootFolder(scratch + "/group", 0775);
    ASSERT_EQ(std::system(copyCommand(group).c_str()), 0);
    const std::string handed = rootFolder(scratch + "/handed", 0755);
    ASSERT_EQ(std::system(copyCommand(handed).c_str()), 0);
    ASSERT_EQ(::chown((handed + "/" + toolName()).c_str(), kNobody, kNobody), 0);
    // Root's folder in the sticky one: others cannot replace root's entries.
    const std::string sticky = rootFolder(playground + "/roots", 0755);
    ASSERT_EQ(std::system(copyCommand(sticky).c_str()), 0);

    const struct {
        std::string program;
        std::string reason; // empty: registered
    } cases[] = {
        {theirs + "/" + toolName(), theirs + " is owned by uid 65534"},
        {theirsHoldingRoots + "/" + toolName(), theirsHoldingRoots + " is owned by uid 65534"},
        {theirLink, theirLink + " is a link owned by uid 65534"},
        {group + "/" + toolName(), group + " can be changed by others (writable by group or others, not sticky)"},
        {handed + "/" + toolName(), handed + "/" + toolName() + " is owned by uid 65534"},
        {sticky + "/" + toolName(), ""},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const std::string name = "Program" + std::to_string(index++);
        const auto outcome = create(name, c.program);
        if (c.reason.empty()) {
            EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
            EXPECT_EQ(outcome.err, "");
            installed.push_back(name);
            continue;
        }
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_EQ(outcome.err, "quillon service manager: The program " + c.program + " is not used: " + c.reason + "\n");
        SetLastError(0);
        EXPECT_EQ(OpenServiceW(manager, wide(name).c_str(), SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    }

    // Under an account the program runs as that user: the manager takes it.
    SC_HANDLE service = installAsNobody("Theirs", theirs + "/" + toolName());
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    expectVictimUntouched();
}

TEST_F(ProgramTrust, Row12_RootStartsNoProgramThatIsNoLongerRootsAlone)
{
    // Registered while root's alone; then its folder became another user's
    // (an entry an older version registered from a user's build tree, a
    // folder handed over later).
    const std::string folder = rootFolder(scratch + "/later-theirs", 0755);
    ASSERT_EQ(std::system(copyCommand(folder).c_str()), 0);
    const std::string program = folder + "/" + toolName();
    SC_HANDLE service = installProgram("Later", program, "");
    ASSERT_NE(service, nullptr);
    expectServiceWorks(service);
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    const std::string marker = playground + "/it-ran-as";
    ASSERT_EQ(attack("printf '#!/bin/sh\\nid -u > " + marker + "\\n' > '" + folder + "/new' && chmod 755 '" + folder
                     + "/new' && mv '" + folder + "/new' '" + program + "'"),
              0);

    EXPECT_FALSE(start(service));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(exists(marker)) << readText(marker);
    EXPECT_EQ(query(service).dwCurrentState, SERVICE_STOPPED);
    // Where the service's own entries go, as the service manager's own.
    std::vector<LogEntry> refusals;
    for (const LogEntry& entry : readEventLog(stateDir + "/eventlog/later.jsonl")) {
        if (entry.text.at("type") == "error")
            refusals.push_back(entry);
    }
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0].text.at("text"), "The Later service failed to start due to the following error: The program "
                                               + program + " is not used: " + folder + " is owned by uid 65534");
    EXPECT_EQ(refusals[0].number.at("eventId"), 7000);
    EXPECT_EQ(refusals[0].text.at("source"), "Later");
}

} // namespace
