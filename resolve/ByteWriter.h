#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwell {

// Writing of a DNS message, the mirror of ByteReader: fields are appended
// in order, 16-bit ones in network byte order.
class ByteWriter {
public:
    explicit ByteWriter(std::size_t reserve = 0) { bytes_.reserve(reserve); }

    void U8(std::uint8_t value) { bytes_.push_back(value); }
    // Network byte order, most significant byte first.
    void U16(std::uint16_t value) {
        bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
        bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    void Bytes(std::span<const std::uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

    std::size_t Size() const { return bytes_.size(); }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace tarnwell
