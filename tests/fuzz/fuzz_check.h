// What every fuzz target uses to compare with its reference: a mismatch is
// reported with the bytes on both sides and ends the process, so that
// libFuzzer (or the seed runner) keeps the input as the reproducer.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::fuzz {

// What a target is doing outside an input of libFuzzer's (a sweep at start-
// up, say), for the report of a mismatch; empty while it runs an input.
inline std::string& context()
{
    static std::string text;
    return text;
}

inline void printBytes(const char* label, std::string_view bytes)
{
    std::fprintf(stderr, "  %s (%zu bytes):", label, bytes.size());
    for (std::size_t i = 0; i < bytes.size() && i < 96; ++i) {
        std::fprintf(stderr, " %02x", static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
    }
    std::fprintf(stderr, bytes.size() > 96 ? " ...\n" : "\n");
}

[[noreturn]] inline void mismatch(const char* what)
{
    std::fprintf(stderr, "MISMATCH: %s%s%s\n", what, context().empty() ? "" : ", in ", context().c_str());
    std::fflush(stderr);
    std::abort();
}

inline void expect(bool holds, const char* what)
{
    if (!holds) {
        mismatch(what);
    }
}

inline void expectEqual(std::string_view actual, std::string_view expected, const char* what)
{
    if (actual != expected) {
        printBytes("library", actual);
        printBytes("reference", expected);
        mismatch(what);
    }
}

// A list of strings as one text, each in brackets, so that two lists
// compare with expectEqual and a mismatch shows where the parts differ.
inline std::string bracketed(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts)
        text += "[" + part + "]";
    return text;
}

} // namespace quillon::fuzz
