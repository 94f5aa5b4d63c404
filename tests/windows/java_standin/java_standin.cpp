// Stands in for the Java runtime at "Java\bin\java.exe" beside quillonsvc:
// follows the Quillon console protocol and records what it was given, so the
// Wine checks can see how the supervisor started and stopped it.
//
// It appends to "standin.log" in its working directory: "args <n> <a1>|<a2>...",
// "cwd <dir>", then one line per line read from standard input, and "exit".
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

void say(const char* marker)
{
    // Each marker in one write of its own, flushed at once.
    std::fputs(marker, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::ofstream log("standin.log", std::ios::app);
    log << "args " << (argc - 1) << ' ';
    for (int i = 1; i < argc; ++i) {
        log << (i > 1 ? "|" : "") << argv[i];
    }
    char cwd[4096] = {};
    log << "\ncwd " << (getcwd(cwd, sizeof cwd) ? cwd : "?") << '\n' << std::flush;

    std::fputs("stand-in starting\n", stdout);
    std::fflush(stdout);
    std::fputs("stand-in note on stderr\n", stderr);
    std::fflush(stderr);
    say("###QUILLSTARTUPCOMP###");

    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        log << "stdin " << line << '\n' << std::flush;
        if (line == "QUIT") {
            say("###QUILLSHUTDOWNCOMP###");
            break;
        }
    }
    log << "exit\n";
    return 0;
}
