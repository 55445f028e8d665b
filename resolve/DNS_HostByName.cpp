#include "resolve/DNS_HostByName.h"

#include <algorithm>

#include "platform/CodePage.h"
#include "common/Failure.h"
#include "common/Text.h"

namespace tarnwell {

std::string ToAnsi(const std::string& utf8) {
    std::string out;
    for (char32_t ch : text::Decode(utf8)) {
        const auto byte = platform::AnsiByte(ch);
        if (!byte) throw Failure("character without a one-byte code");
        out.push_back(static_cast<char>(*byte));
    }
    return out;
}

std::string LookupName(const std::string& domain) {
    const bool ascii = std::all_of(domain.begin(), domain.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return domain;
    return platform::IdnToAscii(domain).value_or(domain);
}

std::string GetHostIP(platform::Sockets& sockets, std::string domain) {
    const auto addresses = sockets.GetHostByName(ToAnsi(LookupName(domain)));
    // No record, or a record whose address list is empty: no address.
    if (!addresses || addresses->empty()) return {};
    return text::DottedText(addresses->front());
}

}  // namespace tarnwell
