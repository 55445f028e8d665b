#pragma once
#include "common/Failure.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwell {

// Bounds-checked reading of a received datagram: the only code that reads
// packet bytes. Every read past the end of the datagram throws Failure;
// nothing beyond the bytes actually received is ever read.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes, std::size_t position = 0)
        : bytes_(bytes), position_(position) {}

    std::size_t Position() const { return position_; }
    std::size_t Remaining() const {
        return position_ <= bytes_.size() ? bytes_.size() - position_ : 0;
    }

    void Seek(std::size_t position) {
        if (position > bytes_.size()) throw Failure("position past the datagram");
        position_ = position;
    }
    void Skip(std::size_t count) {
        Need(count);
        position_ += count;
    }

    std::uint8_t U8() {
        Need(1);
        return bytes_[position_++];
    }
    // Network byte order, most significant byte first.
    std::uint16_t U16() {
        Need(2);
        const auto v = static_cast<std::uint16_t>((bytes_[position_] << 8) | bytes_[position_ + 1]);
        position_ += 2;
        return v;
    }
    std::span<const std::uint8_t> Bytes(std::size_t count) {
        Need(count);
        auto out = bytes_.subspan(position_, count);
        position_ += count;
        return out;
    }

private:
    void Need(std::size_t count) const {
        if (count > Remaining()) throw Failure("read past the datagram");
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_;
};

}  // namespace tarnwell
