// decryptWithPassword on real seals and on changes of them. The seals are
// made at start-up of five cases (password and data, 0 to 100 bytes); an
// input picks a case and says how to change its seal:
//   byte 0   the case
//   byte 1   even: change the seal as the following bytes say; odd: the
//            rest of the input is opened as it is, without any seal
//   byte 2   1..127: drop that many bytes from the end; 128..255: append
//            (value - 127) bytes; 0: keep the length
//   then     pairs (place, value): the byte at place is XORed with value;
//            a place below 128 counts from the start, one of 128 and up
//            from the end (128: the last byte), both modulo the length
// A change after the encryption salt (bytes 20 on), or of the length, must be
// refused; a change of the encryption salt alone goes undetected and opens to
// data of the same length, the counter-mode decryption under the key of the
// changed salt. Every result is also held against the format opened with
// OpenSSL.
#include "crypto_adapter.h"
#include "fuzz_check.h"
#include "reference.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using quillon::fuzz::expect;
using quillon::fuzz::expectEqual;
namespace library = quillon::crypto::fuzz;
namespace reference = quillon::crypto::fuzz::reference;

constexpr std::size_t kSalt = 20;
constexpr std::size_t kOverhead = 72;

struct Case {
    std::string password;
    std::string data;
    std::string sealed;
};

std::vector<Case>& cases()
{
    static std::vector<Case> all;
    return all;
}

void checkAgainstReference(std::string_view candidate, std::string_view password, const std::string& opened)
{
    const auto expected = reference::openSealed(candidate, password);
    expectEqual(opened, expected.value_or(std::string()), "decryptWithPassword against the format opened by OpenSSL");
    expect(expected.has_value() == !opened.empty(), "refused exactly when OpenSSL refuses");
}

void checkChangedSeal(const Case& sealCase, std::string_view script)
{
    std::string candidate = sealCase.sealed;
    if (!script.empty()) {
        const auto lengthChange = static_cast<unsigned char>(script[0]);
        script.remove_prefix(1);
        if (lengthChange >= 128) {
            candidate.append(lengthChange - 127u, static_cast<char>(lengthChange));
        } else {
            candidate.resize(candidate.size() - std::min<std::size_t>(lengthChange, candidate.size()));
        }
    }
    for (; script.size() >= 2 && !candidate.empty(); script.remove_prefix(2)) {
        const auto place = static_cast<unsigned char>(script[0]);
        const std::size_t fromStart = place < 128 ? place : candidate.size() - 1 - (place - 128u) % candidate.size();
        candidate[fromStart % candidate.size()] ^= script[1];
    }

    bool changedAfterSalt = candidate.size() != sealCase.sealed.size();
    for (std::size_t i = kSalt; !changedAfterSalt && i < candidate.size(); ++i) {
        changedAfterSalt = candidate[i] != sealCase.sealed[i];
    }

    const std::string opened = library::open(candidate, sealCase.password);
    if (candidate.size() <= kOverhead || changedAfterSalt) {
        expect(opened.empty(), "a seal changed after its encryption salt is refused");
    } else if (candidate == sealCase.sealed) {
        expectEqual(opened, sealCase.data, "a seal opens to its data");
    } else {
        expect(opened.size() == sealCase.data.size(), "a changed encryption salt gives data of the same length");
    }
    checkAgainstReference(candidate, sealCase.password, opened);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::pair<std::string, std::string> inputs[] = {
        {"", ""},
        {"", "x"},
        {std::string(1, '\0'), std::string("\0zero\0bytes\0 and", 16)},
        {"pw", "seventeen bytes!!"},
        {std::string(64, 'P'), std::string(100, 'd')},
    };
    for (const auto& [password, data] : inputs) {
        Case sealCase{password, data, library::seal(data, password)};
        expect(sealCase.sealed.size() == data.size() + kOverhead, "a seal is 72 bytes longer than its data");
        cases().push_back(std::move(sealCase));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.size() < 2) {
        return 0;
    }
    const Case& sealCase = cases()[static_cast<unsigned char>(input[0]) % cases().size()];
    const bool raw = (static_cast<unsigned char>(input[1]) & 1) != 0;
    input.remove_prefix(2);
    if (raw) {
        checkAgainstReference(input, sealCase.password, library::open(input, sealCase.password));
    } else {
        checkChangedSeal(sealCase, input);
    }
    return 0;
}
