// Produces and checks the two stored key texts.
//   key_texts_tool generate        prints two fresh texts from the OS random source,
//                                  as lines of stored_key_texts.txt
//   key_texts_tool check <file>    checks the texts of the data file, and that the
//                                  library holds exactly those
// The texts were generated once and committed; regenerating them would make
// all data encrypted under the built-in keys unreadable.
#include "built_in_key.h"
#include "stored_key_texts.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

namespace {

using quillon::crypto::ByteView;

struct TextForm {
    std::size_t decodedBytes; // random bytes behind the text
    std::size_t alphabetCharacters;
    std::size_t padding;      // "=" characters at the end
};

constexpr TextForm kForm1{41, 55, 1};
constexpr TextForm kForm2{37, 50, 3};

std::string standardBase64(const CryptoPP::byte* bytes, std::size_t length)
{
    std::string text;
    CryptoPP::StringSource pipeline(bytes, length, true,
                                    new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), false));
    return text;
}

// The alphabet part of a text with the form's padding.
std::string generate(const TextForm& form)
{
    CryptoPP::SecByteBlock bytes(form.decodedBytes);
    CryptoPP::OS_GenerateRandomBlock(false, bytes, bytes.size());
    std::string text = standardBase64(bytes, bytes.size());
    text.erase(text.find_last_not_of('=') + 1);
    return text + std::string(form.padding, '=');
}

bool check(const char* name, ByteView text, const TextForm& form)
{
    bool ok = true;
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "%s: %s\n", name, what);
        ok = false;
    };
    if (text.size() != form.alphabetCharacters + form.padding) {
        fail("wrong length");
    }
    const std::size_t alphabetEnd = text.find('=');
    if (alphabetEnd != form.alphabetCharacters ||
        text.find_first_not_of('=', alphabetEnd) != std::string_view::npos) {
        fail("wrong padding");
    }
    const auto decoded = quillon::crypto::decodeBase64(text);
    if (decoded.size() != form.decodedBytes) {
        fail("wrong decoded length");
    }
    // Canonical: re-encoding the bytes gives the same alphabet characters.
    std::string reencoded = standardBase64(reinterpret_cast<const CryptoPP::byte*>(decoded.data()), decoded.size());
    reencoded.erase(reencoded.find_last_not_of('=') + 1);
    if (ByteView(reencoded) != text.substr(0, form.alphabetCharacters)) {
        fail("not canonical base64");
    }
    return ok;
}

// The texts of the data file by name; false when it cannot be read or holds
// anything but "<name> <text>" lines, comments and empty lines.
bool readDataFile(const char* path, std::map<std::string, std::string>& texts)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", path);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos || !texts.emplace(line.substr(0, blank), line.substr(blank + 1)).second) {
            std::fprintf(stderr, "%s: not one text a name: %s\n", path, line.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace quillon::crypto;
    if (argc == 2 && std::strcmp(argv[1], "generate") == 0) {
        std::printf("storedKeyText1 %s\n", generate(kForm1).c_str());
        std::printf("storedKeyText2 %s\n", generate(kForm2).c_str());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) {
        std::map<std::string, std::string> texts;
        if (!readDataFile(argv[2], texts)) {
            return 1;
        }
        bool ok = texts.size() == 2;
        if (!ok) {
            std::fprintf(stderr, "%s: wants two texts, has %zu\n", argv[2], texts.size());
        }
        const struct {
            const char* name;
            ByteView compiled;
            const TextForm& form;
        } expected[] = {{"storedKeyText1", storedKeyText1, kForm1}, {"storedKeyText2", storedKeyText2, kForm2}};
        for (const auto& text : expected) {
            const auto found = texts.find(text.name);
            if (found == texts.end()) {
                std::fprintf(stderr, "%s: no %s\n", argv[2], text.name);
                ok = false;
                continue;
            }
            ok = check(text.name, found->second, text.form) && ok;
            if (ByteView(found->second) != text.compiled) {
                std::fprintf(stderr, "%s: the library holds another text\n", text.name);
                ok = false;
            }
        }
        const auto key1 = builtInKey(storedKeyText1);
        const auto key2 = builtInKey(storedKeyText2);
        if (key1 == key2) {
            std::fprintf(stderr, "the two built-in keys are equal\n");
            ok = false;
        }
        std::printf("%s\n", ok ? "stored key texts OK" : "stored key texts FAULTY");
        return ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: %s generate | check <stored_key_texts.txt>\n", argv[0]);
    return 2;
}
