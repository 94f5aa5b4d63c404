// Root's rule on a path: each folder and link on the way, and the file at
// its end. Laid out below a fresh root-owned folder in /tmp, with owners only
// root can set; the attacks as another user run in the advapi32 and
// quillonsvc suites.
#include "running_program.h"
#include "trusted_path.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillon::linux_trust;

namespace {

constexpr uid_t kNobody = 65534;

class TrustedPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "owners other than one's own need root";
        std::string pattern = "/tmp/quillon-trust-test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        ASSERT_EQ(::chmod(base.c_str(), 0755), 0);
    }
    void TearDown() override
    {
        if (!base.empty()) {
            EXPECT_EQ(std::system(("rm -rf '" + base + "'").c_str()), 0);
        }
    }

    std::string folder(const std::string& name, mode_t mode, uid_t owner = 0)
    {
        const std::string path = base + "/" + name;
        EXPECT_EQ(::mkdir(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
        return path;
    }
    std::string file(const std::string& name, mode_t mode, uid_t owner = 0)
    {
        const std::string path = base + "/" + name;
        EXPECT_EQ(std::system((": > '" + path + "'").c_str()), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
        return path;
    }
    std::string link(const std::string& name, const std::string& target, uid_t owner = 0)
    {
        const std::string path = base + "/" + name;
        EXPECT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
        return path;
    }

    std::string base;
};

TEST_F(TrustedPath, FoldersAndLinksOnTheWayFollowRootsRule)
{
    folder("ok", 0755);
    file("ok/program", 0755);
    folder("nobodys", 0755, kNobody);
    file("nobodys/program", 0755);
    folder("group", 0775);
    file("group/program", 0755);
    folder("open", 0757);
    file("open/program", 0755);
    folder("sticky", 01777);
    folder("sticky/inside", 0755);
    file("sticky/inside/program", 0755);
    link("roots-link", base + "/ok");
    link("nobodys-link", base + "/ok", kNobody);

    const struct {
        std::string path;
        std::string refusal; // empty: trusted
        std::string resolved;
    } cases[] = {
        {base + "/ok/program", "", base + "/ok/program"},
        {base + "/nobodys/program", base + "/nobodys is owned by uid 65534", ""},
        {base + "/group/program", base + "/group can be changed by others (writable by group or others, not sticky)", ""},
        {base + "/open/program", base + "/open can be changed by others (writable by group or others, not sticky)", ""},
        {base + "/sticky/inside/program", "", base + "/sticky/inside/program"},
        {base + "/roots-link/program", "", base + "/ok/program"},
        {base + "/nobodys-link/program", base + "/nobodys-link is a link owned by uid 65534", ""},
        {base + "/ok/../ok/./program", "", base + "/ok/program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WalkOptions rootsRule;
        rootsRule.rootsRule = true;
        const Walked walked = walkPath(c.path, rootsRule, Target::File);
        EXPECT_EQ(walked.refusal, c.refusal);
        EXPECT_EQ(walked.path, c.resolved);
        EXPECT_EQ(static_cast<bool>(walked.fd), c.refusal.empty());
        // Without the rule the same path is only resolved.
        const Walked resolved = walkPath(c.path, WalkOptions {}, Target::File);
        EXPECT_EQ(resolved.refusal, "");
        EXPECT_EQ(resolved.error, 0);
    }
}

TEST_F(TrustedPath, TheFileItselfMustBeRootsRegularFileWritableByNoOneElse)
{
    folder("f", 0755);
    const std::string fifo = base + "/f/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const struct {
        std::string path;
        std::string refusal;
    } cases[] = {
        {file("f/roots", 0755), ""},
        {file("f/read-only", 0444), ""},
        {file("f/nobodys", 0755, kNobody), base + "/f/nobodys is owned by uid 65534"},
        {file("f/group-writable", 0775), base + "/f/group-writable is writable by group or others"},
        {file("f/world-writable", 0757), base + "/f/world-writable is writable by group or others"},
        {fifo, fifo + " is not a regular file"},
        {base + "/f", base + "/f is not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Walked walked = checkRootsFile(c.path);
        EXPECT_EQ(walked.error, 0);
        EXPECT_EQ(walked.refusal, c.refusal);
    }
}

TEST_F(TrustedPath, WhatIsMissingIsAnErrorAfterTheFoldersAboveItWereChecked)
{
    folder("here", 0755);
    folder("theirs", 0755, kNobody);
    WalkOptions rootsRule;
    rootsRule.rootsRule = true;
    EXPECT_EQ(walkPath(base + "/here/missing/program", rootsRule, Target::File).error, ENOENT);
    EXPECT_EQ(walkPath(base + "/here/missing", rootsRule, Target::File).error, ENOENT);
    const Walked below = walkPath(base + "/theirs/missing", rootsRule, Target::File);
    EXPECT_EQ(below.refusal, base + "/theirs is owned by uid 65534");
    EXPECT_EQ(walkPath("relative/program", rootsRule, Target::File).error, EINVAL);
    EXPECT_EQ(walkPath(base + "/here", rootsRule, Target::File).error, 0); // a folder opened as a file
    EXPECT_EQ(walkPath(base + "/here", rootsRule, Target::Folder).error, 0);
}

TEST_F(TrustedPath, MissingFoldersAreMadeWhenAsked)
{
    WalkOptions make;
    make.rootsRule = true;
    make.createFolders = true;
    ::umask(077);
    const Walked walked = walkPath(base + "/a/b/c", make, Target::Folder);
    ::umask(022);
    ASSERT_EQ(walked.error, 0);
    EXPECT_EQ(walked.path, base + "/a/b/c");
    EXPECT_EQ(walked.info.st_mode & 07777, 0755u);
}

TEST(RunningProgram, IsThisTestAndItsFolder)
{
    const std::string path = runningProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "trust_tests");
    EXPECT_EQ(folderOf(path) + "/trust_tests", path);
    EXPECT_EQ(folderOf("/program"), "/");
    EXPECT_EQ(folderOf("program"), "");
}

} // namespace
