// Any domain text: either refused, or a query whose name is a host name the
// DNS can carry (labels of 1 to 63 letters, digits, hyphens or underscores,
// at most 255 octets in all) and that its own echo, read as a reply, is
// accepted for.
#include "resolve/HostName.h"
#include "resolve/DnsMessage.h"
#include "tests/fakes/Fakes.h"

#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> name;
    try {
        name = MakeHostName(std::string(reinterpret_cast<const char*>(data), size)).qname;
    } catch (const Failure&) {
        return 0;
    }
    if (name.empty() || name.size() > dns::kMaxNameOctets) std::abort();
    std::size_t i = 0;
    for (; name[i] != 0; i += name[i] + 1u) {
        if (name[i] > dns::kMaxLabelOctets || i + name[i] + 1u >= name.size()) std::abort();
        for (std::size_t k = i + 1; k <= i + name[i]; ++k)
            if (!std::isalnum(name[k]) && name[k] != '-' && name[k] != '_') std::abort();
    }
    if (i != name.size() - 1) std::abort();
    const auto query = dns::BuildQuery(name);
    const auto reply = fakes::ReplyTo(query, {fakes::AddressRecord(fakes::A("10.0.0.1"))});
    const auto reading = dns::ReadReply(reply);
    if (query.size() != name.size() + 16 || !dns::IsReplyTo(reply, query) || !reading.complete ||
        reading.addresses != std::vector<Address>{fakes::A("10.0.0.1")})
        std::abort();
    return 0;
}
