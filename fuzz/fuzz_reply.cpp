// Any datagram as the reply to the A or AAAA query for aa.bbb: acceptance and reading
// never read past it, a reading is complete only when usable, and its
// addresses are of the question's family.
#include "resolve/DnsMessage.h"
#include "resolve/HostName.h"

#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto a = dns::BuildQuery(MakeHostName("aa.bbb").qname);
    static const auto aaaa = dns::BuildQuery(MakeHostName("aa.bbb").qname, dns::kTypeAaaa);
    const std::span<const std::uint8_t> datagram(data, size);
    if (!dns::IsReplyTo(datagram, a) && !dns::IsReplyTo(datagram, aaaa)) return 0;
    const auto reading = dns::ReadReply(datagram);
    if ((reading.complete && !reading.usable) || (!reading.usable && !reading.addresses.empty())) std::abort();
    // A reply holds addresses of its question's family only.
    const bool v6 = dns::IsReplyTo(datagram, aaaa);
    for (const auto& address : reading.addresses)
        if (address.IsV4() == v6) std::abort();
    return 0;
}
