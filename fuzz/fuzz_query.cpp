// Any domain text: either refused, or a query whose name the DNS can carry
// (labels of 1 to 63 octets, at most 255 in all) and that its own echo,
// read as a reply, is accepted for.
#include "resolve/DNS_IP_READER.h"
#include "resolve/DnsMessage.h"
#include "tests/fakes/Fakes.h"

#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> name;
    try {
        name = EncodeQName(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const Failure&) {
        return 0;
    }
    if (name.empty() || name.size() > dns::kMaxNameOctets) std::abort();
    std::size_t i = 0;
    for (; name[i] != 0; i += name[i] + 1u)
        if (name[i] > dns::kMaxLabelOctets || i + name[i] + 1u >= name.size()) std::abort();
    if (i != name.size() - 1) std::abort();
    const auto query = dns::BuildQuery(name);
    const auto reply = fakes::ReplyTo(query, {fakes::ARecord({10, 0, 0, 1})});
    if (query.size() != name.size() + 16 || !dns::IsReplyTo(reply, query) ||
        dns::UsableAddresses(reply) != std::vector<Ipv4>{{10, 0, 0, 1}})
        std::abort();
    return 0;
}
