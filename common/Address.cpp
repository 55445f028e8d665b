#include "common/Address.h"

#include <algorithm>

namespace tarnwell {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::array<std::uint8_t, 4>> ParseDottedQuad(std::string_view s) {
    std::array<std::uint8_t, 4> out{};
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t end = k < 3 ? s.find('.') : s.size();
        const auto part = s.substr(0, end);
        if (end == std::string_view::npos || part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0'))
            return std::nullopt;
        unsigned value = 0;
        for (const char c : part) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 255) return std::nullopt;
        out[k] = static_cast<std::uint8_t>(value);
        s.remove_prefix(k < 3 ? end + 1 : end);
    }
    return out;
}

// IPv6 text (RFC 4291 section 2.2): eight groups of 1 to 4 hex digits, one
// "::" for a run of zero groups, the last 32 bits perhaps as dotted IPv4.
std::optional<std::array<std::uint16_t, 8>> ParseIpv6(std::string_view s) {
    std::array<std::uint16_t, 8> head{}, tail{};
    std::size_t nHead = 0, nTail = 0;
    bool compressed = false;
    if (s.substr(0, 2) == "::") {
        compressed = true;
        s.remove_prefix(2);
    } else if (s.empty() || s[0] == ':') {
        return std::nullopt;
    }
    while (!s.empty()) {
        auto& groups = compressed ? tail : head;
        auto& n = compressed ? nTail : nHead;
        const std::size_t end = s.find(':');
        const std::string_view group = s.substr(0, end);
        if (end == std::string_view::npos && group.find('.') != std::string_view::npos) {
            const auto v4 = ParseDottedQuad(group);
            if (nHead + nTail > 6 || !v4) return std::nullopt;
            groups[n++] = static_cast<std::uint16_t>((*v4)[0] << 8 | (*v4)[1]);
            groups[n++] = static_cast<std::uint16_t>((*v4)[2] << 8 | (*v4)[3]);
            break;
        }
        if (group.empty() || group.size() > 4 || nHead + nTail == 8) return std::nullopt;
        unsigned value = 0;
        for (char c : group) {
            const int d = HexDigit(c);
            if (d < 0) return std::nullopt;
            value = value << 4 | static_cast<unsigned>(d);
        }
        groups[n++] = static_cast<std::uint16_t>(value);
        if (end == std::string_view::npos) break;
        s.remove_prefix(end + 1);
        if (!s.empty() && s[0] == ':') {  // "::" after groups
            if (compressed) return std::nullopt;
            compressed = true;
            s.remove_prefix(1);
        } else if (s.empty()) {
            return std::nullopt;  // a single ":" at the end
        }
    }
    // "::" stands for one zero group or more: RFC 5952 section 4.2.2 bars
    // writers from using it for one, but RFC 4291 text allows it and
    // inet_pton(3) reads it.
    if (compressed ? nHead + nTail > 7 : nHead != 8) return std::nullopt;
    std::array<std::uint16_t, 8> out{};
    std::copy_n(head.begin(), nHead, out.begin());
    std::copy_n(tail.begin(), nTail, out.end() - static_cast<std::ptrdiff_t>(nTail));
    return out;
}

}  // namespace

Address Address::V4(std::span<const std::uint8_t, kV4Size> bytes) {
    Address a;
    std::copy(bytes.begin(), bytes.end(), a.bytes_.begin());
    return a;
}

Address Address::V6(std::span<const std::uint8_t, kV6Size> bytes, std::string zone) {
    Address a;
    a.family_ = Family::V6;
    std::copy(bytes.begin(), bytes.end(), a.bytes_.begin());
    a.zone_ = std::move(zone);
    return a;
}

std::optional<Address> Address::Parse(std::string_view text, bool zoned) {
    if (const auto v4 = ParseDottedQuad(text)) return V4(*v4);
    std::string zone;
    if (const auto percent = text.find('%'); zoned && percent != std::string_view::npos) {
        zone = text.substr(percent + 1);
        text = text.substr(0, percent);
        if (zone.empty()) return std::nullopt;
    }
    const auto groups = ParseIpv6(text);
    if (!groups) return std::nullopt;
    std::array<std::uint8_t, kV6Size> bytes{};
    for (std::size_t k = 0; k < groups->size(); ++k) {
        bytes[2 * k] = static_cast<std::uint8_t>((*groups)[k] >> 8);
        bytes[2 * k + 1] = static_cast<std::uint8_t>((*groups)[k] & 0xFF);
    }
    return V6(bytes, std::move(zone));
}

std::string Address::Text() const {
    std::string out;
    if (IsV4()) {
        for (std::size_t k = 0; k < kV4Size; ++k) {
            if (k) out += '.';
            out += std::to_string(bytes_[k]);
        }
        return out;
    }
    // RFC 5952 section 5: an IPv4-mapped address ends in its dotted form.
    if (std::all_of(bytes_.begin(), bytes_.begin() + 10, [](std::uint8_t b) { return b == 0; }) && bytes_[10] == 0xFF &&
        bytes_[11] == 0xFF) {
        out = "::ffff:" + V4(std::span<const std::uint8_t, kV4Size>(bytes_.data() + 12, kV4Size)).Text();
        return zone_.empty() ? out : out + "%" + zone_;
    }
    std::array<unsigned, 8> groups{};
    for (std::size_t k = 0; k < groups.size(); ++k) groups[k] = bytes_[2 * k] << 8 | bytes_[2 * k + 1];
    // RFC 5952 section 4.2: the longest run of zero groups, the first of
    // equal ones, and only a run of two or more.
    std::size_t bestAt = groups.size(), bestLength = 1;
    for (std::size_t k = 0; k < groups.size();) {
        std::size_t run = 0;
        while (k + run < groups.size() && groups[k + run] == 0) ++run;
        if (run > bestLength) {
            bestAt = k;
            bestLength = run;
        }
        k += run ? run : 1;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t k = 0; k < groups.size(); ++k) {
        if (k == bestAt) {
            out += "::";
            k += bestLength - 1;
            continue;
        }
        if (k && k != bestAt + bestLength) out += ':';
        std::string group;
        for (unsigned v = groups[k]; group.empty() || v; v >>= 4) group.insert(group.begin(), kHex[v & 0xF]);
        out += group;
    }
    return zone_.empty() ? out : out + "%" + zone_;
}

bool Address::IsLoopback() const {
    if (IsV4()) return bytes_[0] == 127;
    return std::all_of(bytes_.begin(), bytes_.end() - 1, [](std::uint8_t b) { return b == 0; }) && bytes_[15] == 1;
}

bool Address::IsUnspecified() const {
    return std::all_of(bytes_.begin(), bytes_.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace tarnwell
