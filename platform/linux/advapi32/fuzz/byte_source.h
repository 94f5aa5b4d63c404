// Values taken one after another from a fuzz input, for the targets that
// build a structured message or entry of the input and write it out: what
// runs out reads as zero or empty, so every input makes some value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::fuzz {

class ByteSource {
public:
    explicit ByteSource(std::string_view bytes) : bytes_(bytes) {}

    std::uint8_t byte()
    {
        if (at_ >= bytes_.size())
            return 0;
        return static_cast<std::uint8_t>(bytes_[at_++]);
    }

    std::uint32_t word()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | byte();
        return value;
    }

    std::uint64_t wide() { return (std::uint64_t {word()} << 32) | word(); }

    // A text of a length the next byte gives, at most maxLength.
    std::string text(std::size_t maxLength)
    {
        const std::size_t wanted = byte() % (maxLength + 1);
        const std::size_t length = std::min(wanted, bytes_.size() - at_);
        std::string value(bytes_.substr(at_, length));
        at_ += length;
        return value;
    }

    bool empty() const { return at_ >= bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

} // namespace quillon::fuzz
