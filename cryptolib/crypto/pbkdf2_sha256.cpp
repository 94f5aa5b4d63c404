#include "pbkdf2_sha256.h"

#include <cryptopp/hmac.h>
#include <cryptopp/misc.h>
#include <cryptopp/sha.h>

#include <algorithm>

namespace quillon::crypto {

namespace {

using CryptoPP::byte;
using CryptoPP::word32;

constexpr std::size_t kDigestBytes = CryptoPP::SHA256::DIGESTSIZE;
constexpr std::size_t kBlockBytes = CryptoPP::SHA256::BLOCKSIZE;
constexpr std::size_t kDigestWords = kDigestBytes / 4;
constexpr std::size_t kBlockWords = kBlockBytes / 4;

constexpr word32 kInnerPad = 0x36363636;
constexpr word32 kOuterPad = 0x5c5c5c5c;

// The transform wants its state and block 16-byte aligned.
struct alignas(16) Digest {
    word32 w[kDigestWords];
};
struct alignas(16) Block {
    word32 w[kBlockWords];
};

template <typename T>
void wipe(T& object)
{
    CryptoPP::SecureWipeBuffer(reinterpret_cast<byte*>(&object), sizeof object);
}

word32 bigEndianWord(const byte* bytes)
{
    return CryptoPP::GetWord<word32>(false, CryptoPP::BIG_ENDIAN_ORDER, bytes);
}

// SHA-256 after the HMAC key's inner and outer padded blocks: the password is
// fixed for the whole derivation, so these two compressions happen once.
struct KeyStates {
    Digest inner;
    Digest outer;

    explicit KeyStates(ByteView password)
    {
        struct Pad {
            byte key[kBlockBytes] = {};
            Block block;
            ~Pad() { wipe(*this); }
        } pad;
        if (password.size() > kBlockBytes) {
            CryptoPP::SHA256().CalculateDigest(pad.key, bytePointer(password), password.size());
        } else {
            std::copy(password.begin(), password.end(), reinterpret_cast<char*>(pad.key));
        }
        for (std::size_t i = 0; i < kBlockWords; ++i) {
            pad.block.w[i] = bigEndianWord(pad.key + 4 * i) ^ kInnerPad;
        }
        CryptoPP::SHA256::InitState(inner.w);
        CryptoPP::SHA256::Transform(inner.w, pad.block.w);
        for (auto& word : pad.block.w) {
            word ^= kInnerPad ^ kOuterPad;
        }
        CryptoPP::SHA256::InitState(outer.w);
        CryptoPP::SHA256::Transform(outer.w, pad.block.w);
    }
    KeyStates(const KeyStates&) = delete;
    KeyStates& operator=(const KeyStates&) = delete;
    ~KeyStates() { wipe(*this); }
};

// One output block of one derivation. `block` holds U_j as the last block of
// a 64 + 32 byte message, padding and length already in place, so an
// iteration is: inner state over it, digest back into it, outer state over
// it, digest back into it and into the running XOR.
class Chain {
public:
    Chain() = default;
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;
    ~Chain() { wipe(*this); }

    // U_1 = HMAC(password, salt || INT(index)); it is computed once per
    // block, so the MAC object may do it.
    void start(CryptoPP::HMAC<CryptoPP::SHA256>& mac, ByteView salt, word32 index)
    {
        byte counter[4];
        CryptoPP::PutWord(false, CryptoPP::BIG_ENDIAN_ORDER, counter, index);
        mac.Update(bytePointer(salt), salt.size());
        mac.Update(counter, sizeof counter);
        mac.Final(bytes_);
        for (std::size_t i = 0; i < kDigestWords; ++i) {
            block_.w[i] = sum_.w[i] = bigEndianWord(bytes_ + 4 * i);
        }
        block_.w[kDigestWords] = 0x80000000u;
        std::fill(block_.w + kDigestWords + 1, block_.w + kBlockWords - 1, 0u);
        block_.w[kBlockWords - 1] = (kBlockBytes + kDigestBytes) * 8;
    }

    void inner(const KeyStates& keys)
    {
        work_ = keys.inner;
        CryptoPP::SHA256::Transform(work_.w, block_.w);
        std::copy(work_.w, work_.w + kDigestWords, block_.w);
    }

    void outer(const KeyStates& keys)
    {
        work_ = keys.outer;
        CryptoPP::SHA256::Transform(work_.w, block_.w);
        for (std::size_t i = 0; i < kDigestWords; ++i) {
            block_.w[i] = work_.w[i];
            sum_.w[i] ^= work_.w[i];
        }
    }

    void output(byte* out, std::size_t length)
    {
        for (std::size_t i = 0; i < kDigestWords; ++i) {
            CryptoPP::PutWord(false, CryptoPP::BIG_ENDIAN_ORDER, bytes_ + 4 * i, sum_.w[i]);
        }
        std::copy_n(bytes_, length, out);
    }

private:
    Block block_;
    Digest sum_;
    Digest work_;
    byte bytes_[kDigestBytes];
};

} // namespace

void pbkdf2HmacSha256(ByteView password, ByteView salt, unsigned iterations, byte* out, std::size_t length)
{
    const KeyStates keys(password);
    CryptoPP::HMAC<CryptoPP::SHA256> mac(bytePointer(password), password.size());
    Chain chain;
    for (word32 index = 1; length > 0; ++index) {
        chain.start(mac, salt, index);
        for (unsigned i = 1; i < iterations; ++i) {
            chain.inner(keys);
            chain.outer(keys);
        }
        const std::size_t take = std::min(length, kDigestBytes);
        chain.output(out, take);
        out += take;
        length -= take;
    }
}

void pbkdf2HmacSha256Pair(ByteView password, ByteView firstSalt, ByteView secondSalt, unsigned iterations,
                          byte* firstOut, byte* secondOut, std::size_t length)
{
    const KeyStates keys(password);
    CryptoPP::HMAC<CryptoPP::SHA256> mac(bytePointer(password), password.size());
    Chain first;
    Chain second;
    for (word32 index = 1; length > 0; ++index) {
        first.start(mac, firstSalt, index);
        second.start(mac, secondSalt, index);
        for (unsigned i = 1; i < iterations; ++i) {
            first.inner(keys);
            second.inner(keys);
            first.outer(keys);
            second.outer(keys);
        }
        const std::size_t take = std::min(length, kDigestBytes);
        first.output(firstOut, take);
        second.output(secondOut, take);
        firstOut += take;
        secondOut += take;
        length -= take;
    }
}

} // namespace quillon::crypto
