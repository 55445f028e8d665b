#include "common/Ipv4.h"

namespace tarnwell {

std::optional<Ipv4> ParseDottedQuad(std::string_view s) {
    Ipv4 out{};
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

}  // namespace tarnwell
