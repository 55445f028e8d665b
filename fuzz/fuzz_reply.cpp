// Any datagram as the reply to the query for aa.bbb: acceptance and reading
// never read past it, and the report holds exactly the usable addresses.
#include "resolve/DNS_IP_READER.h"
#include "resolve/DnsMessage.h"
#include "tests/fakes/Fakes.h"

#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto query = dns::BuildQuery(EncodeQName("aa.bbb"));
    const std::span<const std::uint8_t> datagram(data, size);
    if (!dns::IsReplyTo(datagram, query)) return 0;
    CheckState state;
    state.HostIP = "10.0.0.1";
    fakes::FakeTextBox report;
    ReadAnswers(datagram, state, report);
    const auto addresses = dns::UsableAddresses(datagram);
    std::string expected;
    bool match = false;
    for (const auto& a : addresses.value_or(std::vector<Ipv4>{})) {
        expected += text::DottedText(a) + "\r\n";
        match |= text::DottedText(a) == state.HostIP;
    }
    if (report.text != expected || state.Replied != addresses.has_value() || state.IpMatch != match) std::abort();
    return 0;
}
