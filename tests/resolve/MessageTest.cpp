// The DNS message on hand-built bytes: one table of query bytes, one of
// reply acceptance and reading.
#include "resolve/DNS_IP_READER.h"
#include "resolve/DnsMessage.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using fakes::ARecord;
using fakes::Bytes;
using fakes::Record;
using fakes::ReplyTo;

Bytes Query(std::initializer_list<std::uint8_t> name) {
    Bytes m = {0x11, 0xDF, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::copy(name.begin(), name.end(), std::back_inserter(m));
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
    return b.push_back(0), b;
}

TEST(QueryBytes, Table) {
    const std::string l63(63, 'x');
    struct Row {
        std::string domain;
        std::optional<Bytes> name;  // nothing: the name is refused
    };
    const Row rows[] = {
        {"aa.bbb", Bytes{2, 'a', 'a', 3, 'b', 'b', 'b', 0}},
        {"aa.bbb.", Bytes{2, 'a', 'a', 3, 'b', 'b', 'b', 0}},
        {"Aa.BBB", Bytes{2, 'A', 'a', 3, 'B', 'B', 'B', 0}},
        {"", Bytes{0}},
        {"пример.рф", Bytes{12, 'x', 'n', '-', '-', 'e', '1', 'a', 'f', 'm', 'k', 'f', 'd', 8, 'x', 'n', '-', '-', 'p', '1', 'a', 'i', 0}},
        {"ая.ру€\a", Bytes{2, 0xE0, 0xFF, 4, 0xF0, 0xF3, 0x88, 0x07, 0}},  // IDNA refuses it: Windows-1251
        {l63 + "." + l63 + "." + l63 + "." + std::string(61, 'x'), Name({63, 63, 63, 61})},  // 255 octets
        {l63 + "." + l63 + "." + l63 + "." + std::string(62, 'x'), {}},
        {std::string(64, 'x') + ".com", {}},
        {std::string(300, 'x') + ".com", {}},
        {"a..bbb", {}},
        {".aa", {}},
        {"aa.bbb..", {}},
        {"a\\.b.com", {}},
        {"\xf0\x9f\x98\x80\x01.com", {}},  // no Windows-1251 code, no IDNA form
        {"Straße.de", Bytes{13, 'x', 'n', '-', '-', 's', 't', 'r', 'a', 'e', '-', 'o', 'q', 'a', 2, 'd', 'e', 0}},  // ß is kept, not ss; S made small
        {"ςa.gr", Bytes{9, 'x', 'n', '-', '-', 'a', '-', 'x', 'm', 'b', 2, 'g', 'r', 0}},  // final sigma is kept
        {"\u0915\u094D\u200D\u0937.in", Bytes{15, 'x', 'n', '-', '-', '1', '1', 'b', '2', 'e', 'z', 'c', 'w', '7', '0', 'k', 2, 'i', 'n', 0}},  // ZWJ after a virama
        {"пр\u200Dимер.рф", {}},  // ZWJ between letters: IDNA refuses it, Windows-1251 has no code
        {"\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645.ir", Bytes{20, 'x', 'n', '-', '-', 'm', 'g', 'b', 'n', '2', 'e', 'c', 'j', 'e', '6', '3', 'g', 'r', '1', '9', 'l', 2, 'i', 'r', 0}},  // ZWNJ joining
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.domain);
        if (!row.name) {
            EXPECT_THROW(EncodeQName(row.domain), Failure);
            continue;
        }
        const Bytes query = dns::BuildQuery(EncodeQName(row.domain));
        Bytes expected = Query({});
        expected.insert(expected.begin() + 12, row.name->begin(), row.name->end());
        EXPECT_EQ(query, expected);
    }
}

// A reply to the query for aa.bbb, and its bytes changed by hand.
const Bytes kQuery = Query({2, 'a', 'a', 3, 'b', 'b', 'b', 0});
Bytes Reply(std::vector<Bytes> answers, std::uint8_t rcode = 0) { return ReplyTo(kQuery, answers, rcode); }
Bytes Set(Bytes b, std::size_t at, std::uint8_t value) { return b.at(at) = value, b; }
// An A record of 10.0.0.3 with this owner name.
Bytes Owned(Bytes owner) { return owner.insert(owner.end(), {0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 10, 0, 0, 3}), owner; }

TEST(Replies, AcceptanceAndReading) {
    using A = std::vector<Ipv4>;
    const Bytes two = Reply({ARecord({10, 0, 0, 1}), ARecord({10, 0, 0, 2})});
    const Bytes cname = Reply({Record(5, 1, {3, 'w', 'w', 'w', 0xC0, 0x0C}), Record(1, 1, {10, 0, 0, 1})});
    Bytes chain = Reply({});
    chain[7] = 1;
    chain.insert(chain.end(), {1, 'x', 0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 10, 0, 0, 9});
    struct Row {
        const char* name;
        Bytes datagram;
        bool accepted;
        std::optional<A> addresses;  // nothing: the reply is of no use
    };
    const Row rows[] = {
        {"two A records", two, true, A{{10, 0, 0, 1}, {10, 0, 0, 2}}},
        {"the name in another case", Set(Set(two, 13, 'A'), 17, 'B'), true, A{{10, 0, 0, 1}, {10, 0, 0, 2}}},
        {"another identifier", Set(two, 1, 0xE0), false, {}},
        {"QR clear", Set(two, 2, 0x01), false, {}},
        {"another name", Set(two, 14, 'b'), false, {}},
        {"another label length", Set(Set(two, 12, 3), 15, 2), false, {}},
        {"another type", Set(two, 21, 28), false, {}},
        {"two questions", Set(two, 5, 2), false, {}},
        {"shorter than a header", Bytes(two.begin(), two.begin() + 11), false, {}},
        {"shorter than the question", Bytes(two.begin(), two.begin() + 20), false, {}},
        {"header only, REFUSED", Bytes{0x11, 0xDF, 0x81, 0x85, 0, 0, 0, 0, 0, 0, 0, 0}, true, {}},
        {"header only, NOERROR", Bytes{0x11, 0xDF, 0x81, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}, false, {}},
        {"SERVFAIL with an A record", Reply({ARecord({10, 0, 0, 1})}, 2), true, {}},
        {"NXDOMAIN", Reply({}, 3), true, A{}},
        {"CNAME, then A", cname, true, A{{10, 0, 0, 1}}},
        {"owner: a label, then a pointer", chain, true, A{{10, 0, 0, 9}}},
        {"RDLENGTH 5", Reply({Record(1, 1, {10, 0, 0, 1, 7}), ARecord({10, 0, 0, 2})}), true, A{{10, 0, 0, 2}}},
        {"class CH", Reply({Record(1, 3, {10, 0, 0, 1})}), true, A{}},
        {"more answers counted than sent", Set(two, 7, 200), true, A{{10, 0, 0, 1}, {10, 0, 0, 2}}},
        {"RDATA cut short", Bytes(two.begin(), two.end() - 1), true, A{{10, 0, 0, 1}}},
        {"first owner points forward", Reply({{0xC0, 0x30, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4}}), true, {}},
        {"first owner points at itself", Reply({{0xC0, 0x18, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4}}), true, {}},
        {"owner of 255 octets", Reply({Owned(Name({63, 63, 63, 61}))}), true, A{{10, 0, 0, 3}}},
        {"owner of 256 octets", Reply({Owned(Name({63, 63, 63, 62}))}), true, {}},
        {"reserved label type", Reply({{0x40, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4}}), true, {}},
        {"TC and no address", Set(Reply({}), 2, 0x83), true, {}},
        {"TC with an address", Set(two, 2, 0x83), true, A{{10, 0, 0, 1}, {10, 0, 0, 2}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(dns::IsReplyTo(row.datagram, kQuery), row.accepted);
        if (row.accepted) {
            EXPECT_EQ(dns::UsableAddresses(row.datagram), row.addresses);
        }
    }
}

}  // namespace
}  // namespace tarnwell
