#include "tests/fakes/Fakes.h"

namespace tarnwell::fakes {

std::vector<std::uint8_t> ReplyTo(const std::vector<std::uint8_t>& query,
                                  const std::vector<std::vector<std::uint8_t>>& answers) {
    std::vector<std::uint8_t> reply(query);
    reply[2] = 0x81;  // QR, RD
    reply[3] = 0x80;  // RA
    reply[6] = static_cast<std::uint8_t>(answers.size() >> 8);
    reply[7] = static_cast<std::uint8_t>(answers.size());
    for (const auto& a : answers) reply.insert(reply.end(), a.begin(), a.end());
    return reply;
}

std::vector<std::uint8_t> ARecord(platform::Ipv4 a) {
    return {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0x0E, 0x10, 0, 4, a[0], a[1], a[2], a[3]};
}

}  // namespace tarnwell::fakes
