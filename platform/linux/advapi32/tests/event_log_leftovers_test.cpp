// 13: what another user left in an event-log folder of the older layout,
// open to everyone (1777): a FIFO or a folder where a log file goes, a link
// where a rotation lock goes, a file of its own, an accounts/ folder of its
// own. Root moves each aside and writes its own files; nothing of the
// attacker's is written, blocked on or handed out.
#include "security_fixture.h"

#include <cstdlib>

using namespace quillon::advapi32::test;

namespace {

class EventLogLeftovers : public Security {
protected:
    // The older layout, as nobody leaves it; then root writes as it does now.
    // `closedByAnOlderVersion`: the folder was closed again, by a version
    // that moved nothing aside, before this one saw it.
    void attackAndWrite(bool closedByAnOlderVersion)
    {
        const std::string log = stateDir + "/eventlog";
        reportAsRoot("Setup", "makes the folder");
        // A log at its bound: its next entry rotates it, under its lock.
        reportAsRoot("Rotated", "first");
        ASSERT_EQ(::truncate((log + "/rotated.jsonl").c_str(), 16 * 1024 * 1024), 0);
        ASSERT_EQ(::chmod(log.c_str(), 01777), 0);
        ASSERT_EQ(attack("cd '" + log + "' && mkfifo quillon.jsonl && mkdir folder.jsonl && echo planted > foreign.jsonl"
                         + " && ln -s '" + victim + "' .rotated.lock && mkdir accounts"),
                  0);
        if (closedByAnOlderVersion) {
            ASSERT_EQ(::chmod(log.c_str(), 0755), 0);
        }

        // Root's entries land in files of root's, each written once.
        for (const char* source : {"Quillon", "Folder", "Foreign", "Rotated"})
            reportAsRoot(source, std::string(source) + "'s entry");
        for (const char* key : {"quillon", "folder", "foreign", "rotated"}) {
            SCOPED_TRACE(key);
            const std::string file = log + "/" + key + ".jsonl";
            struct stat info {};
            ASSERT_EQ(::lstat(file.c_str(), &info), 0);
            EXPECT_TRUE(S_ISREG(info.st_mode));
            EXPECT_EQ(info.st_uid, 0u);
            EXPECT_EQ(readEventLog(file).size(), 1u);
        }
        EXPECT_TRUE(exists(log + "/rotated.1.jsonl"));
        // An account's service gets its folder in a root-made accounts/.
        SC_HANDLE service = installAsNobody("Nobody");
        ASSERT_NE(service, nullptr);
        expectServiceWorks(service);
        struct stat accounts {};
        ASSERT_EQ(::lstat((log + "/accounts").c_str(), &accounts), 0);
        EXPECT_EQ(accounts.st_uid, 0u);
        const auto own = readEventLog(log + "/accounts/nobody/nobody.jsonl");
        ASSERT_FALSE(own.empty());
        EXPECT_EQ(own[0].text.at("text"), "service main runs");

        struct stat folder {};
        ASSERT_EQ(::stat(log.c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 07777, 0755u);
        EXPECT_EQ(foldersOthersCanChange(stateDir), std::vector<std::string>());
        expectVictimUntouched();
        // Nothing of the attacker's is lost: it was renamed, not removed.
        int setAside = 0;
        if (DIR* dir = ::opendir(log.c_str()); dir != nullptr) {
            while (const dirent* entry = ::readdir(dir))
                setAside += std::string(entry->d_name).rfind(".untrusted.", 0) == 0;
            ::closedir(dir);
        }
        EXPECT_EQ(setAside, 5);
    }
};

TEST_F(EventLogLeftovers, Row13_AreMovedAsideWhenTheOlderLayoutIsFirstUsed)
{
    attackAndWrite(false);
}

TEST_F(EventLogLeftovers, Row13_AreMovedAsideWhereverRootWouldOpenThem)
{
    attackAndWrite(true);
}

} // namespace
