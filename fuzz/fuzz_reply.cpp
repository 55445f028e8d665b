// Any datagram as the reply to the query for aa.bbb: acceptance and reading
// never read past it, a reading is complete only when usable, and the
// report holds exactly its addresses, each once.
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"

#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto query = dns::BuildQuery(MakeHostName("aa.bbb").qname);
    const std::span<const std::uint8_t> datagram(data, size);
    if (!dns::IsReplyTo(datagram, query)) return 0;
    const auto reading = dns::ReadReply(datagram);
    if ((reading.complete && !reading.usable) || (!reading.usable && !reading.addresses.empty())) std::abort();
    CheckState state;
    state.HostIPs = {"10.0.0.1"};
    fakes::FakeTextBox report;
    DirectAnswer answer;
    ReadAnswers(reading, answer, state, report);
    std::string expected;
    for (const auto& a : answer.addresses) expected += text::DottedText(a) + "\r\n";
    const bool match = std::count(answer.addresses.begin(), answer.addresses.end(), Ipv4{10, 0, 0, 1}) == 1;
    if (report.text != expected || state.IpMatch != match) std::abort();
    return 0;
}
