// Root runs quillonsvc's Java runtime and archive, and registers quillonsvc,
// only from folders that no one but root can change, all the way up; a
// folder whose name is no faithful text is never used. Each attack is laid
// out by another user (setpriv to nobody) and tried by root; runs as other
// users are not concerned.
#include "e2e_fixture.h"
#include "other_user.h"

using namespace quillon::e2e;

namespace {

// A stand-in for the Java runtime: notes who ran it, then speaks the console
// protocol.
std::string javaStandIn(const std::string& marker)
{
    return "#!/bin/sh\nid -u > '" + marker + "'\necho '###QUILLSTARTUPCOMP###'\n"
           "while read -r line && [ \"$line\" != QUIT ]; do :; done\necho '###QUILLSHUTDOWNCOMP###'\n";
}

class RootTrust : public QuillonsvcEndToEnd {
protected:
    void SetUp() override
    {
        if (const std::string why = quillon::testing::otherUserUnavailable(); !why.empty())
            GTEST_SKIP() << why;
        QuillonsvcEndToEnd::SetUp();
        // A folder where anyone may make folders, like /tmp.
        playground = scratch + "/playground";
        ASSERT_EQ(::mkdir(playground.c_str(), 01777), 0);
        ASSERT_EQ(::chmod(playground.c_str(), 01777), 0);
    }

    // A shell command run as the attacker; its exit status.
    static int asNobody(const std::string& command)
    {
        return quillon::testing::runProgram(quillon::testing::shellAsNobody(command)).exitCode;
    }
    static void shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    // quillonsvc, its libraries and the sample quillon.jar, copied into a folder.
    std::string copyProgramInto(const std::string& folder)
    {
        const std::string from = program.substr(0, program.rfind('/'));
        shell("mkdir -p '" + folder + "' && cp '" + from + "'/* '" + folder + "/'");
        return folder + "/quillonsvc";
    }
    static void writeJava(const std::string& path, const std::string& marker)
    {
        std::ofstream(path, std::ios::trunc) << javaStandIn(marker);
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }

    std::string playground;
};

bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// -i as root: the program, its folder and every folder above it.
TEST_F(RootTrust, InstallRefusesAProgramOthersCanChangeAndSaysWhy)
{
    const std::string theirs = playground + "/theirs";
    ASSERT_EQ(asNobody("mkdir '" + theirs + "'"), 0);
    const std::string group = scratch + "/group";
    ASSERT_EQ(::mkdir(group.c_str(), 0775), 0);
    ASSERT_EQ(::chmod(group.c_str(), 0775), 0);
    const struct {
        std::string folder;
        std::string reason;
    } cases[] = {
        {theirs, theirs + " is owned by uid 65534"},
        {group + "/program", group + " can be changed by others (writable by group or others, not sticky)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        executable = copyProgramInto(c.folder);
        const Outcome o = run({"-i"});
        EXPECT_EQ(o.exitCode, 255);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "quillon service manager: The program " + executable + " is not used: " + c.reason
                             + "\nThe service Quillon could not be installed\n");
        EXPECT_NE(run({"-v"}).out.find("is not installed"), std::string::npos);
    }
    // Root's folder inside the sticky one: no one else can replace it.
    executable = copyProgramInto(playground + "/roots");
    EXPECT_EQ(run({"-i"}).exitCode, 0);
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

// -e as root: the local Java runtime, the archive, the program itself, and
// the folders above them.
TEST_F(RootTrust, ForegroundRunRefusesAJavaOrArchiveOthersCanChange)
{
    const std::string folder = scratch + "/program";
    executable = copyProgramInto(folder);
    const std::string marker = playground + "/java-ran-as";
    // A runtime unpacked with its owners kept, or handed to a user later:
    // that user puts a program of its own in its place.
    shell("mkdir -p '" + folder + "/Java/bin' && chown -R 65534:65534 '" + folder + "/Java'");
    writeJava(playground + "/their-java", marker);
    ASSERT_EQ(asNobody("cp '" + playground + "/their-java' '" + folder + "/Java/bin/java'"), 0);
    quillon::testing::ProgramOptions options;
    options.closeInput = true;
    auto foreground = [&] { return quillon::testing::runProgram({executable, "-e"}, options); };

    // Each is handed to that user in turn, the one before given back.
    const struct {
        std::string handed; // what that user owns (besides the runtime at first)
        std::string reason;
    } cases[] = {
        {"", folder + "/Java/bin/java is not used: " + folder + "/Java is owned by uid 65534"},
        {folder + "/quillon.jar", folder + "/quillon.jar is not used: " + folder + "/quillon.jar is owned by uid 65534"},
        // What runs as root now, that user could change for the next run.
        {executable, executable + " is not used: " + executable + " is owned by uid 65534"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        if (!c.handed.empty())
            shell("chown -R 0:0 '" + folder + "' && chown 65534:65534 '" + c.handed + "'");
        const Outcome o = foreground();
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_NE(o.err.find("Unable to start up service: " + c.reason), std::string::npos) << o.err;
        EXPECT_FALSE(exists(marker)) << readText(marker);
    }
    shell("chown -R 0:0 '" + folder + "'");

    // Another user runs its own program as it likes: nothing is refused.
    const std::string own = playground + "/own";
    ASSERT_EQ(asNobody("mkdir -p '" + own + "/Java/bin' && cp '" + folder + "'/quillonsvc '" + folder + "'/lib*.so '"
                       + folder + "/quillon.jar' '" + own + "/' && cp '" + folder + "/Java/bin/java' '" + own
                       + "/Java/bin/java'"),
              0);
    quillon::testing::ProgramOptions asThem = options;
    asThem.unset = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "QUILLON_STATE_DIR"};
    quillon::testing::RunningProgram theirs(quillon::testing::asNobody({own + "/quillonsvc", "-e"}), asThem);
    for (int i = 0; i < 3000 && !exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    theirs.signal(SIGTERM);
    EXPECT_TRUE(theirs.waitForEnd(std::chrono::seconds(60)));
    EXPECT_EQ(readText(marker), "65534\n") << theirs.standardError();
}

// The service process root's service manager starts: the same refusal as a
// failed start, an error entry and the service-specific exit code.
TEST_F(RootTrust, AServiceRefusesAJavaOthersCanChangeLikeAFailedStart)
{
    const std::string folder = scratch + "/program";
    executable = copyProgramInto(folder);
    const std::string marker = playground + "/java-ran-as";
    shell("mkdir -p '" + folder + "/Java/bin'");
    writeJava(folder + "/Java/bin/java", marker);
    ASSERT_EQ(run({"-i"}).exitCode, 0);
    shell("chown -R 65534:65534 '" + folder + "/Java'");

    EXPECT_EQ(run({}).exitCode, 0);
    SERVICE_STATUS status {};
    ASSERT_TRUE(waitForStopped(status)) << "state " << status.dwCurrentState;
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_SERVICE_SPECIFIC_ERROR);
    EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);
    EXPECT_FALSE(exists(marker)) << readText(marker);
    const std::string refusal = "Unable to start up service: " + folder + "/Java/bin/java is not used: " + folder
                                + "/Java is owned by uid 65534";
    std::ifstream log(stateDir + "/eventlog/quillon.jsonl");
    int found = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find("\"text\":\"" + refusal + "\"") != std::string::npos) {
            ++found;
            EXPECT_NE(line.find("\"type\":\"error\""), std::string::npos) << line;
            EXPECT_NE(line.find("\"category\":1,\"eventId\":1005"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(found, 1) << readText(stateDir + "/eventlog/quillon.jsonl");
    EXPECT_EQ(run({"-u"}).exitCode, 0);
}

// The program in a folder whose name is not UTF-8; beside it, in a folder
// where anyone may make folders, another user's folder named as the text of
// that name would be encoded back (U+FFFD), with its own runtime and archive.
TEST_F(RootTrust, ALookAlikeSiblingFolderIsNeverRun)
{
    const std::string real = playground + "/q\xff" "dir";
    const std::string lookAlike = playground + "/q\xef\xbf\xbd" "dir";
    executable = copyProgramInto(real);
    shell("mkdir -p '" + real + "/Java/bin'");
    writeJava(real + "/Java/bin/java", playground + "/the-real-one-ran");
    const std::string planted = playground + "/the-planted-one-ran";
    ASSERT_EQ(asNobody("mkdir -p '" + lookAlike + "/Java/bin' && cp '" + real + "/quillon.jar' '" + lookAlike
                       + "/' && printf '#!/bin/sh\\nid -u > " + planted + "\\n' > '" + lookAlike
                       + "/Java/bin/java' && chmod 755 '" + lookAlike + "/Java/bin/java'"),
              0);
    quillon::testing::ProgramOptions options;
    options.closeInput = true;
    options.set = {{"LC_ALL", "C.UTF-8"}};
    const Outcome o = quillon::testing::runProgram({executable, "-e"}, options);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("Unable to start up service: The program's folder "), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("xffdir is not used: its name is not valid text in this system's encoding"),
              std::string::npos)
        << o.err;
    EXPECT_FALSE(exists(planted)) << "ran as " << readText(planted);
    EXPECT_FALSE(exists(playground + "/the-real-one-ran"));
}

} // namespace
