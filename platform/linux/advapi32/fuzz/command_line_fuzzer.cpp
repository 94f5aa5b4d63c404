// splitCommandLine, the service manager's reading of a binary path by the
// rules of CommandLineToArgvW, against a splitter written here as a state
// machine that takes one character at a time and holds back a run of
// backslashes until it sees what follows; and a round trip: a program and
// arguments made of the input's bytes, quoted by a writer of the rules,
// split back into themselves.
#include "byte_source.h"
#include "command_line.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using quillon::fuzz::bracketed;
using quillon::fuzz::expectEqual;
using Parts = std::vector<std::string>;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

Parts referenceSplit(std::string_view line)
{
    enum class State { Start, Program, QuotedProgram, Between, Argument };
    State state = State::Start;
    Parts parts;
    std::string current;
    bool quoted = false;
    bool justClosed = false;   // the quote before ended quoting: a quote now is a literal one
    std::size_t backslashes = 0; // held back until a quote or anything else follows
    for (const char c : line) {
        switch (state) {
        case State::Start:
            if (isBlank(c))
                break;
            if (c == '"') {
                state = State::QuotedProgram;
                break;
            }
            state = State::Program;
            current.push_back(c);
            break;
        case State::Program:
            if (isBlank(c)) {
                parts.push_back(current);
                current.clear();
                state = State::Between;
            } else {
                current.push_back(c);
            }
            break;
        case State::QuotedProgram:
            if (c == '"') {
                parts.push_back(current);
                current.clear();
                state = State::Between;
            } else {
                current.push_back(c);
            }
            break;
        case State::Between:
            if (isBlank(c))
                break;
            state = State::Argument;
            quoted = false;
            justClosed = false;
            backslashes = 0;
            [[fallthrough]];
        case State::Argument:
            if (c == '\\') {
                ++backslashes;
                justClosed = false;
                break;
            }
            if (c == '"') {
                current.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    current.push_back('"');
                    justClosed = false;
                } else if (justClosed) {
                    current.push_back('"');
                    justClosed = false;
                } else if (quoted) {
                    quoted = false;
                    justClosed = true;
                } else {
                    quoted = true;
                }
                backslashes = 0;
                break;
            }
            current.append(backslashes, '\\');
            backslashes = 0;
            justClosed = false;
            if (isBlank(c) && !quoted) {
                parts.push_back(current);
                current.clear();
                state = State::Between;
            } else {
                current.push_back(c);
            }
            break;
        }
    }
    switch (state) {
    case State::Program:
    case State::QuotedProgram:
        parts.push_back(current);
        break;
    case State::Argument:
        current.append(backslashes, '\\');
        parts.push_back(current);
        break;
    default:
        break;
    }
    return parts;
}

// How a writer quotes an argument so that the rules give it back: in
// quotes; backslashes before a quote or the closing quote doubled; each
// quote escaped.
std::string quoted(const std::string& argument)
{
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(2 * backslashes + 1, '\\');
            out.push_back('"');
        } else {
            out.append(backslashes, '\\');
            out.push_back(c);
        }
        backslashes = 0;
    }
    out.append(2 * backslashes, '\\');
    out.push_back('"');
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    const Parts parts = quillon::advapi32::splitCommandLine(line);
    const Parts reference = referenceSplit(line);
    if (parts != reference)
        expectEqual(bracketed(parts), bracketed(reference), "splitCommandLine against the reference");

    // A program (no quotes: the rules have no way to write one) and
    // arguments, written as a service's binary path.
    quillon::fuzz::ByteSource in(line);
    Parts written;
    std::string program = in.text(40);
    program.erase(std::remove(program.begin(), program.end(), '"'), program.end());
    written.push_back(program);
    std::string commandLine = "\"" + program + "\"";
    for (std::uint8_t n = in.byte() % 6; n > 0; --n) {
        written.push_back(in.text(30));
        commandLine += (in.byte() & 1) ? "\t" : " ";
        commandLine += quoted(written.back());
    }
    const Parts back = quillon::advapi32::splitCommandLine(commandLine);
    if (back != written)
        expectEqual(bracketed(back), bracketed(written), "splitCommandLine of a written command line");
    return 0;
}
