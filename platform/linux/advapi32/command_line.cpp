#include "command_line.h"

namespace quillon::advapi32 {

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

std::vector<std::string> splitCommandLine(const std::string& line)
{
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    if (i == line.size())
        return parts;

    // The program: quoted up to the next quote, else up to the first blank.
    // Backslashes are path separators here, never escapes.
    std::string program;
    if (line[i] == '"') {
        const std::size_t close = line.find('"', i + 1);
        program = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !isBlank(line[i]))
            program.push_back(line[i++]);
    }
    parts.push_back(program);

    // Arguments: 2n backslashes before a quote give n and the quote toggles
    // quoting; 2n+1 give n and a literal quote; "" inside quotes gives a
    // literal quote and ends the quoting.
    while (true) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        std::string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !isBlank(line[i]))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument.push_back('"');
                    ++i;
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    argument.push_back('"');
                    quoted = false;
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument.append(backslashes, '\\');
                if (i < line.size() && (quoted || !isBlank(line[i])))
                    argument.push_back(line[i++]);
            }
        }
        parts.push_back(argument);
    }
    return parts;
}

} // namespace quillon::advapi32
