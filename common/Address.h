#pragma once
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwell {

// An IP address of either family, in network byte order, with the zone of a
// scoped IPv6 address (RFC 4007 section 11: "fe80::1%eth0") where it has one.
class Address {
public:
    enum class Family : std::uint8_t { V4, V6 };
    static constexpr std::size_t kV4Size = 4;
    static constexpr std::size_t kV6Size = 16;

    Address() = default;  // 0.0.0.0
    static Address V4(std::span<const std::uint8_t, kV4Size> bytes);
    static Address V6(std::span<const std::uint8_t, kV6Size> bytes, std::string zone = {});

    // The text of an address as inet_pton(3) takes it: a dotted quad of four
    // decimals of 0 to 255 without leading zeros (to inet_aton(3) a leading
    // zero means octal, and "0x7f.1" or "10.1" are other forms again, so
    // such text is no address here), or IPv6 text (RFC 4291 section 2.2),
    // with a zone after "%" when `zoned`.
    static std::optional<Address> Parse(std::string_view text, bool zoned = false);

    Family family() const { return family_; }
    bool IsV4() const { return family_ == Family::V4; }
    std::span<const std::uint8_t> Bytes() const { return {bytes_.data(), IsV4() ? kV4Size : kV6Size}; }
    const std::string& Zone() const { return zone_; }

    // Dotted decimal, or IPv6 text in RFC 5952 form: lower case, no leading
    // zeros, the longest run of two or more zero groups (the first of equal
    // runs) as "::", an IPv4-mapped address with its last 32 bits dotted;
    // then "%" and the zone, if any.
    std::string Text() const;

    bool IsLoopback() const;     // 127.0.0.0/8, ::1
    bool IsUnspecified() const;  // 0.0.0.0, ::

    bool operator==(const Address&) const = default;
    auto operator<=>(const Address&) const = default;  // an order of no meaning, for sets

private:
    Family family_ = Family::V4;
    std::array<std::uint8_t, kV6Size> bytes_{};
    std::string zone_;
};

}  // namespace tarnwell
