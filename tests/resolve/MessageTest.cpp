// The query message and the reading of replies, on hand-built bytes.
#include "resolve/DNS_IP_READER.h"
#include "common/Text.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

#include <variant>

namespace tarnwell {
namespace {

using Bytes = std::vector<std::uint8_t>;

QName Q(std::initializer_list<std::variant<int, const char*>> parts) {
    QName q;
    for (const auto& p : parts) {
        if (std::holds_alternative<int>(p))
            q.push_back({static_cast<char32_t>(std::get<int>(p)), true});
        else
            for (const char* c = std::get<const char*>(p); *c; ++c) q.push_back({static_cast<char32_t>(*c), false});
    }
    return q;
}

const Bytes kHeader = {0x11, 0xDF, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes Message(Bytes question) {
    Bytes m = kHeader;
    m.insert(m.end(), question.begin(), question.end());
    return m;
}

TEST(EncodeQName, LabelsAndEmptyLabels) {
    EXPECT_EQ(EncodeQName("aa.bbb"), Q({2, "aa", 3, "bbb"}));
    EXPECT_EQ(EncodeQName("aa.bbb."), Q({2, "aa", 3, "bbb", 0}));
    EXPECT_EQ(EncodeQName("aa..bbb"), Q({2, "aa", 0, 3, "bbb"}));
    EXPECT_EQ(EncodeQName(".aa"), Q({0, 2, "aa"}));
    EXPECT_EQ(EncodeQName(""), Q({0}));
    EXPECT_EQ(EncodeQName(std::string(255, 'x')).front(), (QChar{255, true}));
    EXPECT_THROW(EncodeQName(std::string(256, 'x')), Failure);
    // Characters, not bytes: a two-byte UTF-8 letter is one character.
    EXPECT_EQ(EncodeQName("рф").front(), (QChar{2, true}));
}

TEST(BuildQuery, ExactBytes) {
    EXPECT_EQ(BuildQuery("aa.bbb"),
              Message({2, 'a', 'a', 3, 'b', 'b', 'b', 0, 0, 1, 0, 1}));
    EXPECT_EQ(BuildQuery("aa.bbb.").size(), 25u);
    EXPECT_EQ(BuildQuery("aa.bbb."), Message({2, 'a', 'a', 3, 'b', 'b', 'b', 0, 0, 0, 1, 0, 1}));
    EXPECT_EQ(BuildQuery("aa..bbb"), Message({2, 'a', 'a', 0, 3, 'b', 'b', 'b', 0, 0, 1, 0, 1}));
    EXPECT_EQ(BuildQuery(""), Message({0, 0, 0, 1, 0, 1}));

    const Bytes seventy = BuildQuery(std::string(70, 'c') + ".com");
    EXPECT_EQ(seventy.size(), 17u + 1 + 70 + 1 + 3);
    EXPECT_EQ(seventy[12], 0x46);

    // A label over 255 characters cannot be encoded: a query for the root.
    EXPECT_EQ(BuildQuery(std::string(300, 'd') + ".com"), Message({0, 0, 1, 0, 1}));

    // International names go out in their IDNA ASCII form.
    auto ascii = [](std::string_view labels) {
        Bytes q;
        for (char c : labels) q.push_back(static_cast<std::uint8_t>(c));
        q.insert(q.end(), {0, 0, 1, 0, 1});
        return Message(q);
    };
    EXPECT_EQ(BuildQuery("пример.рф"), ascii("\x0c" "xn--e1afmkfd\x08" "xn--p1ai"));
    EXPECT_EQ(BuildQuery("Кто.example"), ascii("\x09" "xn--j1ail\x07" "example"));
    EXPECT_EQ(BuildQuery("MiXeD.Example"), ascii("\x05MiXeD\x07" "Example"));  // ASCII untouched
    // A name IDNA rejects goes out as Windows-1251 bytes; a character the
    // code page lacks leaves a zero at its place. The private use character
    // makes IDNA2003 (Windows' IdnToAscii) refuse the name too, not only
    // IDNA2008.
    EXPECT_EQ(BuildQuery("ая.ру€\uE000"), Message({2, 0xE0, 0xFF, 4, 0xF0, 0xF3, 0x88, 0, 0, 0, 1, 0, 1}));
    EXPECT_EQ(BuildQuery("a例€\uE000"), Message({4, 'a', 0, 0x88, 0, 0, 0, 1, 0, 1}));

    // Positions past 4000 stay zero but the message keeps 17 + L bytes.
    std::string longName;
    for (int i = 0; i < 50; ++i) longName += std::string(99, 'e') + ".";
    const Bytes big = BuildQuery(longName);
    EXPECT_EQ(big.size(), 17u + 5001);
    EXPECT_EQ(big[4000], 'e');
    EXPECT_EQ(big[4001], 0);
    EXPECT_EQ(big[4500], 0);
}

// The reply to aa.bbb with two A records, owners given as pointers.
Bytes TwoAnswers() {
    return {0x11, 0xDF, 0x81, 0x80, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
            0x02, 0x61, 0x61, 0x03, 0x62, 0x62, 0x62, 0x00, 0x00, 0x01, 0x00, 0x01,
            0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x04, 0x0A, 0x00, 0x00, 0x01,
            0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x04, 0x0A, 0x00, 0x00, 0x02};
}

struct Read {
    CheckState state;
    fakes::FakeTextBox report;
    bool failed = false;
    explicit Read(const Bytes& reply, std::string hostIp = "", int count = -1) {
        state.HostIP = std::move(hostIp);
        const auto n = count >= 0 ? count : (reply.size() >= 8 ? reply[6] << 8 | reply[7] : 0);
        try {
            ReadAnswers(reply, kHeaderSize, static_cast<std::uint16_t>(n), state, report);
        } catch (const Failure&) {
            failed = true;
        }
    }
};

TEST(ReadAnswers, AddressRecordsInOrderAndMatch) {
    Read two(TwoAnswers(), "10.0.0.2");
    EXPECT_FALSE(two.failed);
    EXPECT_EQ(two.report.text, "10.0.0.1\r\n10.0.0.2\r\n");
    EXPECT_TRUE(two.state.IpMatch);

    Read first(TwoAnswers(), "10.0.0.1");  // a later differing answer keeps the match
    EXPECT_TRUE(first.state.IpMatch);
    Read none(TwoAnswers(), "10.0.0.3");
    EXPECT_FALSE(none.state.IpMatch);

    Read zero(TwoAnswers(), "10.0.0.1", 0);
    EXPECT_EQ(zero.report.text, "");
    EXPECT_FALSE(zero.state.IpMatch);
}

TEST(ReadAnswers, CnameIsSteppedOverByItsLength) {
    Bytes reply = TwoAnswers();
    reply.resize(24);
    const Bytes cname = {0xC0, 0x0C, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x06,
                         0x03, 0x77, 0x77, 0x77, 0xC0, 0x0C};
    const Bytes a = {0xC0, 0x24, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x04, 0x0A, 0x00, 0x00, 0x01};
    reply.insert(reply.end(), cname.begin(), cname.end());
    reply.insert(reply.end(), a.begin(), a.end());
    Read r(reply, "10.0.0.1");
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.report.text, "10.0.0.1\r\n");
    EXPECT_TRUE(r.state.IpMatch);

    // Other classes and other data lengths give no address either.
    Bytes chaos = TwoAnswers();
    chaos[29] = 3;  // CLASS CH
    EXPECT_EQ(Read(chaos).report.text, "10.0.0.2\r\n");
}

TEST(ReadAnswers, MalformedNamesFailBeforeAnyLine) {
    Bytes loop = TwoAnswers();
    loop[12] = 0xC0, loop[13] = 0x0C;  // the question's name points at itself
    Read looping(loop);
    EXPECT_TRUE(looping.failed);
    EXPECT_EQ(looping.report.text, "");

    for (std::uint8_t prefix : {0x40, 0x80}) {
        Bytes reserved = TwoAnswers();
        reserved[12] = prefix | 2;
        Read r(reserved);
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.report.text, "");
    }

    // A pointer forward past the end of the datagram.
    Bytes forward = TwoAnswers();
    forward[24] = 0xC0, forward[25] = 0x7F;
    Read past(forward);
    EXPECT_TRUE(past.failed);
    EXPECT_EQ(past.report.text, "");

    // A name longer than 255 octets.
    Bytes longName = {0x11, 0xDF, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) {
        longName.push_back(63);
        longName.insert(longName.end(), 63, 'x');
    }
    longName.insert(longName.end(), {0, 0, 1, 0, 1});
    EXPECT_TRUE(Read(longName).failed);
}

TEST(ReadAnswers, CutAtEveryLengthNeverReadsPastTheDatagram) {
    const Bytes whole = TwoAnswers();
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
        Read r(cut, "", 2);
        const std::string expected = n >= 56 ? "10.0.0.1\r\n10.0.0.2\r\n" : n >= 40 ? "10.0.0.1\r\n" : "";
        EXPECT_EQ(r.report.text, expected) << n;
        EXPECT_EQ(r.failed, n < 56) << n;
    }
    // A count larger than the records present: no padding turns into lines.
    Read more(whole, "", 126);
    EXPECT_EQ(more.report.text, "10.0.0.1\r\n10.0.0.2\r\n");
    EXPECT_TRUE(more.failed);
    Read many(whole, "", 40000);  // unsigned: no negative count
    EXPECT_EQ(many.report.text, "10.0.0.1\r\n10.0.0.2\r\n");
}

TEST(ClassifyReply, OnlyTheReplyToOurQuestion) {
    const Bytes query = BuildQuery("aa.bbb");
    const Bytes reply = TwoAnswers();
    EXPECT_EQ(ClassifyReply(reply, query), ReplyKind::Answer);

    Bytes upper = reply;
    upper[13] = 'A', upper[17] = 'B';  // 0x20 case randomisation is the same name
    EXPECT_EQ(ClassifyReply(upper, query), ReplyKind::Answer);

    auto stray = [&](auto change) {
        Bytes d = reply;
        change(d);
        return ClassifyReply(d, query) == ReplyKind::Stray;
    };
    EXPECT_TRUE(stray([](Bytes& d) { d[1] = 0xE0; }));           // another identifier
    EXPECT_TRUE(stray([](Bytes& d) { d[2] &= 0x7F; }));           // QR clear: a query
    EXPECT_TRUE(stray([](Bytes& d) { d[14] = 'x'; }));            // another name
    EXPECT_TRUE(stray([](Bytes& d) { d[21] = 28; }));             // type AAAA
    EXPECT_TRUE(stray([](Bytes& d) { d[23] = 3; }));              // class CH
    EXPECT_TRUE(stray([](Bytes& d) { d.resize(11); }));           // shorter than a header
    EXPECT_TRUE(stray([](Bytes& d) { d.resize(20); }));           // question cut short
    EXPECT_TRUE(stray([](Bytes& d) { d[5] = 2; }));               // two questions

    // Our identifier, an error code and no question: the wait ends.
    const Bytes formerr = {0x11, 0xDF, 0x81, 0x81, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ClassifyReply(formerr, query), ReplyKind::HeaderOnlyError);
    Bytes noError = formerr;
    noError[3] = 0x80;
    EXPECT_EQ(ClassifyReply(noError, query), ReplyKind::Stray);
}

}  // namespace
}  // namespace tarnwell
