// DNS server discovery over a fake network parameters service, and the
// dotted address text.
#include "resolve/DNS_SRV_FIND.h"
#include "common/Text.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using Servers = std::vector<std::string>;

struct Discovery {
    fakes::FakeNetworkParams params;
    fakes::RecordingMessageBox box;
    CheckState state;
    std::string Run() { return FindDnsServer(params, box, state); }
};

TEST(FindDnsServer, ListTextSplitAndFirstServer) {
    struct Row {
        std::vector<std::string_view> entries;
        Servers servers;
        std::string result;
    };
    using namespace std::string_view_literals;
    const Row rows[] = {
        {{"10.0.0.1"}, {"10.0.0.1"}, "10.0.0.1"},
        {{"10.0.0.1", "10.0.0.2"}, {"10.0.0.1", "10.0.0.2"}, "10.0.0.1"},
        {{""}, {}, ""},
        {{"", "10.0.0.2"}, {"", "10.0.0.2"}, ""},
        {{"1.2.3.4 5.6.7.8\0"sv}, {"1.2.3.4", "5.6.7.8"}, "1.2.3.4"},
        {{"1.2.3.4  5.6.7.8"}, {"1.2.3.4", "", "5.6.7.8"}, "1.2.3.4"},
        {{"1.2.3.4 5.6.7.8 "}, {"1.2.3.4", "5.6.7.8", ""}, "1.2.3.4"},
        {{"  10.0.0.1 \0"sv}, {"10.0.0.1"}, "10.0.0.1"},
        {{}, {}, ""},  // the second call fills nothing: one zero entry
    };
    for (const auto& row : rows) {
        Discovery d;
        for (auto e : row.entries) d.params.Add(e);
        EXPECT_EQ(d.Run(), row.result);
        EXPECT_EQ(d.state.DnsServers, row.servers);
        EXPECT_TRUE(d.box.shown.empty());
    }
}

TEST(FindDnsServer, SizeQueryAndMissingService) {
    Discovery d;
    d.state.DnsServers = {"old"};
    d.params.Add("10.0.0.1");
    d.params.sizeCode = 87;
    EXPECT_EQ(d.Run(), "");
    EXPECT_TRUE(d.state.DnsServers.empty());

    d.params.available = false;
    d.state.DnsServers = {"old"};
    EXPECT_EQ(d.Run(), "");
    EXPECT_EQ(d.state.DnsServers, Servers{"old"});  // untouched
    ASSERT_EQ(d.box.shown.size(), 1u);
    EXPECT_EQ(d.box.shown[0].prompt, "Iphlpapi.dll load error");
    EXPECT_EQ(d.box.shown[0].title, "Error 001");
    EXPECT_EQ(d.box.shown[0].style, 64);
}

TEST(CutAtNull, Table) {
    using namespace std::string_literals;
    EXPECT_EQ(CutAtNull("\0abc"s), "");
    EXPECT_EQ(CutAtNull("  10.0.0.1 \0 junk"s), "10.0.0.1");
    EXPECT_EQ(CutAtNull("  no nul  "), "  no nul  ");
    EXPECT_EQ(CutAtNull(""), "");
    EXPECT_EQ(CutAtNull("   \0"s), "");
}

TEST(DottedText, EveryByteUnsignedWithoutLeadingZeros) {
    EXPECT_EQ(text::DottedText({0, 127, 128, 255}), "0.127.128.255");
    EXPECT_EQ(text::DottedText({10, 0, 0, 1}), "10.0.0.1");
    EXPECT_EQ(text::DottedText({200, 255, 128, 129}), "200.255.128.129");
    EXPECT_EQ(text::DottedText({0xC0, 0xA8, 0x00, 0x01}), "192.168.0.1");
}

TEST(Text, CharactersAndSpaces) {
    EXPECT_EQ(text::CharCount("пример"), 6u);
    EXPECT_EQ(text::CharCount("\xff\xfe"), 2u);  // invalid bytes count one each
    EXPECT_EQ(text::TrimSpaces("  a b \t "), "a b \t");
    EXPECT_EQ(text::TrimSpaces("     "), "");
    EXPECT_EQ(text::Encode(text::Decode("кто.example")), "кто.example");
}

}  // namespace
}  // namespace tarnwell
