// Any datagram as the reply to the A or AAAA query for aa.bbb: acceptance and reading
// never read past it, a reading is complete only when usable, and the
// report holds exactly its addresses, each once.
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"

#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto a = dns::BuildQuery(MakeHostName("aa.bbb").qname);
    static const auto aaaa = dns::BuildQuery(MakeHostName("aa.bbb").qname, dns::kTypeAaaa);
    const std::span<const std::uint8_t> datagram(data, size);
    if (!dns::IsReplyTo(datagram, a) && !dns::IsReplyTo(datagram, aaaa)) return 0;
    const auto reading = dns::ReadReply(datagram);
    if ((reading.complete && !reading.usable) || (!reading.usable && !reading.addresses.empty())) std::abort();
    CheckState state;
    state.HostIPs = {fakes::A("10.0.0.1"), fakes::A("2001:db8::1")};
    fakes::FakeTextBox report;
    DirectAnswer answer;
    ReadAnswers(reading, answer, state, report);
    std::string expected;
    for (const auto& address : answer.addresses) expected += address.Text() + "\r\n";
    // A reply holds addresses of its question's family only, so never both of the computer's.
    const bool match = false;
    if (report.text != expected || state.IpMatch != match) std::abort();
    return 0;
}
