// Stands in for the Java runtime at "Java\bin\java.exe" beside quillonsvc:
// follows the Quillon console protocol and records what it was given, so the
// Wine checks can see how the supervisor started and stopped it.
//
// It appends to "standin.log" in its working directory: "args <n> <a1>|<a2>...",
// "cwd <dir>", then one line per line read from standard input, and
// "exit <code>". A file "standin.mode" there changes how it ends:
//   fail <code>   ends with <code> before its start-up marker
//   exit <code>   ends with <code> by itself, without a quit command, once a
//                 file "standin.go" appears there (it waits 120 s at most)
//   slow <ms>     takes <ms> to start up: only then it makes the file
//                 "standin.marker" and writes its start-up marker. A quit
//                 command ends it at any time, its shut-down marker 2 s later
//                 (so that a stop-pending service can be seen).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

void say(const char* marker)
{
    // Each marker in one write of its own, flushed at once.
    std::fputs(marker, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

bool exists(const char* path)
{
    return std::ifstream(path).good();
}

void awaitGo()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!exists("standin.go") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Reads standard input until QUIT (or its end), logging each line.
void readUntilQuit(std::ofstream& log, std::mutex& logLock)
{
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::lock_guard<std::mutex> hold(logLock);
        log << "stdin " << line << '\n' << std::flush;
        if (line == "QUIT") {
            return;
        }
    }
}

// The slow start: the quit command is taken on a thread of its own while the
// start-up takes its time.
int slowStart(std::ofstream& log, int milliseconds)
{
    std::mutex logLock;
    std::atomic<bool> quit{false};
    std::thread reader([&] {
        readUntilQuit(log, logLock);
        quit = true;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        say("###QUILLSHUTDOWNCOMP###");
        std::lock_guard<std::mutex> hold(logLock);
        log << "exit 0\n" << std::flush;
        std::_Exit(0);
    });
    const auto ready = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!quit && std::chrono::steady_clock::now() < ready)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!quit) {
        std::ofstream("standin.marker") << "marker\n";
        say("###QUILLSTARTUPCOMP###");
        std::lock_guard<std::mutex> hold(logLock);
        log << "marker\n" << std::flush;
    }
    reader.join();
    return 0;
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

    std::string mode;
    int code = 0;
    std::ifstream("standin.mode") >> mode >> code;

    std::fputs("stand-in starting\n", stdout);
    std::fflush(stdout);
    std::fputs("stand-in note on stderr\n", stderr);
    std::fflush(stderr);
    if (mode == "fail") {
        log << "exit " << code << '\n';
        return code;
    }
    if (mode == "slow") {
        return slowStart(log, code);
    }
    say("###QUILLSTARTUPCOMP###");
    if (mode == "exit") {
        awaitGo();
        log << "exit " << code << '\n';
        return code;
    }

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
    log << "exit 0\n";
    return 0;
}
