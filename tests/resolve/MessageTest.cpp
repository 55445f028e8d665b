// The DNS message on hand-built bytes: one table of query bytes, one of
// reply acceptance and reading (over UDP, and as a witness's body).
#include "resolve/HostName.h"
#include "resolve/DnsMessage.h"
#include "resolve/Witness.h"
#include "tests/Rows.h"
#include "tests/fakes/Fakes.h"

namespace tarnwell {
namespace {

using fakes::Bytes;
using fakes::Record;
using fakes::ReplyTo;

Bytes ARecord(std::string_view a) { return fakes::AddressRecord(fakes::A(a)); }
Bytes Set(Bytes b, std::size_t at, std::uint8_t value) {
    b.at(at) = value;
    return b;
}
Bytes Query(const Bytes& name) {
    Bytes m = {0x11, 0xDF, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    m.insert(m.end(), name.begin(), name.end());
    m.insert(m.end(), {0, 1, 0, 1});
    return m;
}
// A name of labels of these lengths, in wire form.
Bytes Name(std::initializer_list<std::size_t> lengths) {
    Bytes b;
    for (std::size_t n : lengths) {
        b.push_back(static_cast<std::uint8_t>(n));
        b.insert(b.end(), n, 'x');
    }
    b.push_back(0);
    return b;
}

struct NameRow {
    const char* name;
    std::string domain;
    std::optional<Bytes> wire;  // nothing: the name is refused
};
using QueryBytes = testing::TestWithParam<NameRow>;

TEST_P(QueryBytes, OfTheHostName) {
    const auto& row = GetParam();
    if (!row.wire) {
        EXPECT_THROW(MakeHostName(row.domain), Failure);
        return;
    }
    EXPECT_EQ(dns::BuildQuery(MakeHostName(row.domain).qname), Query(*row.wire));
}

const std::string l63(63, 'x');
std::string Cyrillic(int letters) { std::string s; while (letters-- > 0) s += "а"; return s; }
const NameRow kNames[] = {
    {"two labels", "aa.bbb", Bytes{2, 'a', 'a', 3, 'b', 'b', 'b', 0}},
    {"trailing dot", "aa.bbb.", Bytes{2, 'a', 'a', 3, 'b', 'b', 'b', 0}},
    {"case kept", "Aa.B_b-1", Bytes{2, 'A', 'a', 5, 'B', '_', 'b', '-', '1', 0}},
    {"IDN", "пример.рф", Bytes{12, 'x', 'n', '-', '-', 'e', '1', 'a', 'f', 'm', 'k', 'f', 'd', 8, 'x', 'n', '-', '-', 'p', '1', 'a', 'i', 0}},
    {"255 octets", l63 + "." + l63 + "." + l63 + "." + std::string(61, 'x'), Name({63, 63, 63, 61})},
    {"256 octets", l63 + "." + l63 + "." + l63 + "." + std::string(62, 'x'), {}},
    {"64-octet label", std::string(64, 'x') + ".com", {}},
    {"empty label", "a..bbb", {}},
    {"leading dot", ".aa", {}},
    {"two trailing dots", "aa.bbb..", {}},
    {"backslash", "a\\.b.com", {}},
    {"a label begins with a hyphen", "x.-ab.c", {}},
    {"empty", "", {}},
    {"root", ".", {}},
    {"no dot", "intra", {}},
    {"no dot, fully qualified", "localhost.", {}},
    {"dotted address", "127.0.0.1", {}},
    {"address of two parts in hex", "0x7f.1", {}},
    {"address in hex parts", "0x7f.0x1", {}},
    {"address of four parts", "0x7f.0.0.0x1", {}},
    {"'0x' is no number", "0x.0x1", Bytes{2, '0', 'x', 3, '0', 'x', '1', 0}},
    {"numeric top-level label", "10.70.0.4", {}},
    {"blank inside", "a b.com", {}},
    {"tab", "a\tb.com", {}},
    {"percent", "a%b.com", {}},
    {"CR LF", "a.com\r\nРезультат:", {}},
    {"IDNA: trailing hyphen", "пример-.рф", {}},
    {"IDNA: hyphens in 3 and 4", "пр--имер.рф", {}},
    {"IDNA: 64-letter label", Cyrillic(64) + ".рф", {}},
    {"IDNA: control character", "ая.ру\a", {}},
    {"no IDNA form", "\xf0\x9f\x98\x80\x01.com", {}},
    {"IDNA: sharp s kept", "Straße.de", Bytes{13, 'x', 'n', '-', '-', 's', 't', 'r', 'a', 'e', '-', 'o', 'q', 'a', 2, 'd', 'e', 0}},
    {"IDNA: final sigma kept", "ςa.gr", Bytes{9, 'x', 'n', '-', '-', 'a', '-', 'x', 'm', 'b', 2, 'g', 'r', 0}},
    {"IDNA: ZWJ after a virama", "\u0915\u094D\u200D\u0937.in", Bytes{15, 'x', 'n', '-', '-', '1', '1', 'b', '2', 'e', 'z', 'c', 'w', '7', '0', 'k', 2, 'i', 'n', 0}},
    {"IDNA: ZWJ between letters", "пр\u200Dимер.рф", {}},
    {"IDNA: ZWNJ joining", "\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645.ir", Bytes{20, 'x', 'n', '-', '-', 'm', 'g', 'b', 'n', '2', 'e', 'c', 'j', 'e', '6', '3', 'g', 'r', '1', '9', 'l', 2, 'i', 'r', 0}},
};
TARNWELL_ROWS(QueryBytes, kNames);

// A reply to the query for aa.bbb, and its bytes changed by hand.
const Bytes kQuery = Query({2, 'a', 'a', 3, 'b', 'b', 'b', 0});
// The AAAA query for it: identifier 4576, QTYPE 28.
const Bytes kQuery6 = Set(Set(Set(kQuery, 1, 0xE0), 20, 0), 21, 28);
Bytes Reply6(std::vector<Bytes> answers, std::uint8_t rcode = 0) { return ReplyTo(kQuery6, answers, rcode); }
Bytes Reply(std::vector<Bytes> answers, std::uint8_t rcode = 0) { return ReplyTo(kQuery, answers, rcode); }
Bytes Cut(const Bytes& b, std::size_t drop) { return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(drop)); }
// A record of class IN with this owner name; an A record of 10.0.0.3.
Bytes Rr(Bytes owner, std::uint8_t type, const Bytes& data) {
    owner.insert(owner.end(), {0, type, 0, 1, 0, 0, 0, 1, 0, static_cast<std::uint8_t>(data.size())});
    owner.insert(owner.end(), data.begin(), data.end());
    return owner;
}
Bytes Owned(Bytes owner) { return Rr(std::move(owner), 1, {10, 0, 0, 3}); }

enum Use { kRefused, kUnusable, kIncomplete, kComplete };
struct ReplyRow {
    const char* name;
    Bytes datagram;
    Use use;
    std::vector<Address> addresses = {};
    bool aaaa = false;  // the reply to the AAAA query
};
using Replies = testing::TestWithParam<ReplyRow>;

TEST_P(Replies, AcceptanceAndReading) {
    const auto& row = GetParam();
    EXPECT_EQ(dns::IsReplyTo(row.datagram, row.aaaa ? kQuery6 : kQuery), row.use != kRefused);
    // The same bytes as a witness's body over HTTPS: a whole reply answers, with its addresses but for NXDOMAIN's.
    const auto witness = ReadWitnesses({{{row.aaaa, row.aaaa ? kQuery6 : kQuery,
                                          {platform::HttpsEnd::Reply, std::string(row.datagram.begin(), row.datagram.end())}}}});
    EXPECT_EQ(witness.answered.size(), row.use == kComplete ? 1u : 0u);
    EXPECT_EQ(witness.addresses, row.use == kComplete ? row.addresses : std::vector<Address>{});
    if (row.use == kRefused) return;
    const auto reading = dns::ReadReply(row.datagram);
    EXPECT_EQ(reading.usable, row.use != kUnusable);
    EXPECT_EQ(reading.complete, row.use == kComplete);
    EXPECT_EQ(reading.addresses, row.addresses);
}

using A = std::vector<Address>;
const Bytes kTwo = Reply({ARecord("10.0.0.1"), ARecord("10.0.0.2")});
const Bytes kWww = {3, 'w', 'w', 'w', 0xC0, 0x0C};  // www.aa.bbb
const ReplyRow kReplies[] = {
    {"two A records", kTwo, kComplete, A{fakes::A("10.0.0.1"), fakes::A("10.0.0.2")}},
    {"the name in another case", Set(Set(kTwo, 13, 'A'), 17, 'B'), kComplete, A{fakes::A("10.0.0.1"), fakes::A("10.0.0.2")}},
    {"another identifier", Set(kTwo, 1, 0xE0), kRefused},
    {"QR clear", Set(kTwo, 2, 0x01), kRefused},
    {"another name", Set(kTwo, 14, 'b'), kRefused},
    {"another label length", Set(Set(kTwo, 12, 3), 15, 2), kRefused},
    {"another type", Set(kTwo, 21, 28), kRefused},
    {"two questions", Set(kTwo, 5, 2), kRefused},
    {"shorter than a header", Bytes(kTwo.begin(), kTwo.begin() + 11), kRefused},
    {"shorter than the question", Bytes(kTwo.begin(), kTwo.begin() + 20), kRefused},
    {"header only, REFUSED", Bytes{0x11, 0xDF, 0x81, 0x85, 0, 0, 0, 0, 0, 0, 0, 0}, kUnusable},
    {"header only, NOERROR", Bytes{0x11, 0xDF, 0x81, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}, kRefused},
    {"SERVFAIL with an A record", Reply({ARecord("10.0.0.1")}, 2), kUnusable},
    {"NXDOMAIN", Reply({}, 3), kComplete},
    {"NXDOMAIN without the question counted", Set(Reply({}, 3), 5, 0), kUnusable},
    {"NXDOMAIN with an A record", Reply({ARecord("10.0.0.1")}, 3), kComplete},
    {"CNAME, then A of its target", Reply({Record(5, 1, kWww), Owned({0xC0, 0x24})}), kComplete, A{fakes::A("10.0.0.3")}},
    {"A of another name", Reply({Owned({1, 'x', 0xC0, 0x0C}), ARecord("10.0.0.1")}), kComplete, A{fakes::A("10.0.0.1")}},
    {"CNAME of another name", Reply({Rr(kWww, 5, {1, 'x', 0}), Owned({1, 'x', 0})}), kComplete},
    {"owner: labels, then a pointer", Reply({Owned({2, 'a', 'A', 0xC0, 0x0F})}), kComplete, A{fakes::A("10.0.0.3")}},
    {"pointer into the header", Reply({Owned({0xC0, 0x02})}), kIncomplete},
    {"pointer to the header's last octet", Reply({Owned({0xC0, 0x0B})}), kIncomplete},
    {"RDLENGTH 5", Reply({Record(1, 1, {10, 0, 0, 1, 7}), ARecord("10.0.0.2")}), kIncomplete},
    {"RDLENGTH 5 after an address", Reply({ARecord("10.0.0.2"), Record(1, 1, {10, 0, 0, 1, 7})}), kIncomplete, A{fakes::A("10.0.0.2")}},
    {"class CH", Reply({Record(1, 3, {10, 0, 0, 1, 7})}), kComplete},
    {"more answers counted than sent", Set(kTwo, 7, 3), kIncomplete, A{fakes::A("10.0.0.1"), fakes::A("10.0.0.2")}},
    {"cut in the last record", Cut(kTwo, 1), kIncomplete, A{fakes::A("10.0.0.1")}},
    {"two counted, a CNAME sent", Set(Reply({Record(5, 1, kWww)}), 7, 2), kIncomplete},
    {"first owner points forward", Reply({{0xC0, 0x30, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4}}), kIncomplete},
    {"first owner points at itself", Reply({{0xC0, 0x18, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4}}), kIncomplete},
    {"owner of 255 octets", Reply({Owned(Name({63, 63, 63, 61}))}), kComplete},
    {"owner of 256 octets", Reply({Owned(Name({63, 63, 63, 62}))}), kIncomplete},
    {"reserved label type", Reply({{0x40, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4}}), kIncomplete},
    {"TC and no address", Set(Reply({}), 2, 0x83), kIncomplete},
    {"TC with addresses", Set(kTwo, 2, 0x83), kIncomplete, A{fakes::A("10.0.0.1"), fakes::A("10.0.0.2")}},
    {"AAAA in an A reply", Reply({ARecord("2001:db8::1"), ARecord("10.0.0.1")}), kComplete, A{fakes::A("10.0.0.1")}},
    {"AAAA of 15 octets in an A reply", Reply({Record(28, 1, Bytes(15, 1)), ARecord("10.0.0.1")}), kIncomplete},
    {"AAAA: the A query's reply", kTwo, kRefused, {}, true},
    {"AAAA: two records", Reply6({ARecord("2001:db8::1"), ARecord("::ffff:10.0.0.1")}), kComplete,
     A{fakes::A("2001:db8::1"), fakes::A("::ffff:10.0.0.1")}, true},
    {"AAAA: an A record is another type", Reply6({ARecord("10.0.0.1"), ARecord("2001:db8::1")}), kComplete,
     A{fakes::A("2001:db8::1")}, true},
    {"AAAA: RDLENGTH 15", Reply6({Record(28, 1, Bytes(15, 1)), ARecord("2001:db8::1")}), kIncomplete, {}, true},
    {"AAAA: RDLENGTH 17 after an address", Reply6({ARecord("2001:db8::1"), Record(28, 1, Bytes(17, 1))}), kIncomplete,
     A{fakes::A("2001:db8::1")}, true},
    {"AAAA: class CH skipped", Reply6({Record(28, 3, Bytes(15, 1)), ARecord("2001:db8::2")}), kComplete,
     A{fakes::A("2001:db8::2")}, true},
    {"AAAA: of another name", Reply6({Rr({1, 'x', 0xC0, 0x0C}, 28, Bytes(16, 1))}), kComplete, {}, true},
    {"AAAA: CNAME, then AAAA of its target", Reply6({Record(5, 1, kWww), Rr({0xC0, 0x24}, 28, Bytes(16, 0xAB))}),
     kComplete, A{fakes::A("abab:abab:abab:abab:abab:abab:abab:abab")}, true},
    {"AAAA: NXDOMAIN", Reply6({ARecord("2001:db8::1")}, 3), kComplete, {}, true},
};
TARNWELL_ROWS(Replies, kReplies);

// The header under the RFC 1035 section 4.1.1 diagram, both ways.
TEST(Header, ReadAndWritten) {
    struct Row { dns::Header header; Bytes octets; };
    const Row rows[] = {
        {{0x1234, true, 2, true, true, true, true, 5, 3, 1, 2, 3, 4}, {0x12, 0x34, 0x97, 0xD3, 0, 1, 0, 2, 0, 3, 0, 4}},
        {{4575, false, 0, false, false, true, false, 0, 0, 1, 0, 0, 0}, {0x11, 0xDF, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
        {{0xFFFF, true, 15, false, false, false, false, 0, 15, 0xFFFF, 0, 0, 0x100}, {0xFF, 0xFF, 0xF8, 0x0F, 0xFF, 0xFF, 0, 0, 0, 0, 1, 0}},
    };
    for (const auto& row : rows) {
        const auto written = dns::WriteHeader(row.header);
        EXPECT_EQ(Bytes(written.begin(), written.end()), row.octets);
        EXPECT_EQ(dns::ReadHeader(row.octets), row.header);
    }
    EXPECT_THROW(dns::ReadHeader(Bytes(11, 0)), Failure);
    EXPECT_EQ(dns::BuildQuery(MakeHostName("aa.bbb").qname, dns::kTypeAaaa), kQuery6);
}

}  // namespace
}  // namespace tarnwell
