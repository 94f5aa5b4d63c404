// Byte strings of the crypto library: counted bytes of any value, zero bytes
// included. Both kinds keep every byte in one heap block and none in the
// object itself (no small-string storage), and neither zero-fills a buffer
// that is about to be overwritten:
//   ByteString   wiped when released: passwords, keys, plaintext, key texts.
//   PublicBytes  not wiped: ciphertext and sealed data, which leave the
//                library anyway.
#pragma once

#include <cstddef>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <cryptopp/misc.h>

namespace quillon::crypto {

enum class OnRelease { Wipe, Keep };

template <typename T, OnRelease release>
class ByteAllocator {
public:
    using value_type = T;

    ByteAllocator() noexcept = default;
    template <typename U>
    ByteAllocator(const ByteAllocator<U, release>&) noexcept // NOLINT: converting, as allocators are
    {
    }
    template <typename U>
    struct rebind {
        using other = ByteAllocator<U, release>;
    };

    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }

    void deallocate(T* block, std::size_t count) noexcept
    {
        if constexpr (release == OnRelease::Wipe) {
            CryptoPP::SecureWipeArray(block, count);
        }
        ::operator delete(block);
    }

    // Default-initialises, so a sized buffer starts unfilled; only what the
    // caller writes is ever written.
    template <typename U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const ByteAllocator<U, release>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const ByteAllocator<U, release>&) const noexcept
    {
        return false;
    }
};

using ByteString = std::vector<char, ByteAllocator<char, OnRelease::Wipe>>;
using PublicBytes = std::vector<char, ByteAllocator<char, OnRelease::Keep>>;
using ByteView = std::string_view;

template <typename Allocator>
ByteView viewOf(const std::vector<char, Allocator>& bytes)
{
    return ByteView(bytes.data(), bytes.size());
}

inline ByteString byteStringOf(ByteView bytes)
{
    return ByteString(bytes.begin(), bytes.end());
}

inline const CryptoPP::byte* bytePointer(ByteView bytes)
{
    return reinterpret_cast<const CryptoPP::byte*>(bytes.data());
}

inline CryptoPP::byte* bytePointer(char* bytes)
{
    return reinterpret_cast<CryptoPP::byte*>(bytes);
}

} // namespace quillon::crypto
