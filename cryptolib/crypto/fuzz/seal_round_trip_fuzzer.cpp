// encryptWithPassword and decryptWithPassword with fuzzed password and data:
// the seal is 72 bytes longer than the data, has two different salts, opens
// to the data with the library and with the format opened by OpenSSL.
// Input: one byte giving the password's length (modulo what is left), the
// password, then the data.
#include "crypto_adapter.h"
#include "fuzz_check.h"
#include "reference.h"

#include <cstdint>
#include <string>

namespace {

using quillon::fuzz::expect;
using quillon::fuzz::expectEqual;
namespace library = quillon::crypto::fuzz;
namespace reference = quillon::crypto::fuzz::reference;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(bytes), size);
    if (input.empty()) {
        return 0;
    }
    const std::size_t passwordLength = static_cast<unsigned char>(input[0]) % input.size();
    const std::string_view password = input.substr(1, passwordLength);
    const std::string_view data = input.substr(1 + passwordLength);

    const std::string sealed = library::seal(data, password);
    expect(sealed.size() == data.size() + 72, "a seal is 72 bytes longer than its data");
    expect(sealed.compare(0, 20, sealed, 20, 20) != 0, "the two salts differ");
    if (data.empty()) {
        expect(library::open(sealed, password).empty(), "72 bytes are refused");
        expect(!reference::openSealed(sealed, password).has_value(), "OpenSSL refuses 72 bytes");
        return 0;
    }
    expectEqual(library::open(sealed, password), data, "decryptWithPassword(encryptWithPassword(data))");
    expectEqual(reference::openSealed(sealed, password).value_or(std::string()), data,
                "the seal opened by OpenSSL");
    return 0;
}
