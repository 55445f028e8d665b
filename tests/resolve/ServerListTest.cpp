// DNS server discovery over a fake network parameters service (CutAtNull
// through the fields it is given).
#include "resolve/DNS_SRV_FIND.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using Servers = std::vector<std::string>;
using namespace std::string_view_literals;

// A whole field without a NUL.
const std::string kFull = "1.2.3.4 5.6.7.8 1.2.3.4 5.6.7.8 1.2.3.4 5.6.7.8 1.2.3.4 5.6.7.8 ";
static_assert(sizeof "1.2.3.4 5.6.7.8 1.2.3.4 5.6.7.8 1.2.3.4 5.6.7.8 1.2.3.4 5.6.7.8 " - 1 == sizeof(platform::IpAddressString));

TEST(FindDnsServer, Table) {
    struct Row {
        std::vector<std::string_view> entries;
        Servers servers;
        std::uint32_t sizeCode = platform::kErrorBufferOverflow;
        bool available = true;
    };
    const Row rows[] = {
        {{"10.0.0.1", "10.0.0.2"}, {"10.0.0.1", "10.0.0.2"}},
        {{""}, {}},
        {{"", "10.0.0.2"}, {"", "10.0.0.2"}},
        {{" 1.2.3.4  5.6 \0"sv}, {"1.2.3.4", "", "5.6"}},  // trimmed before the NUL
        {{kFull}, {"1.2.3.4", "5.6.7.8", "1.2.3.4", "5.6.7.8", "1.2.3.4", "5.6.7.8", "1.2.3.4", "5.6.7.8", ""}},  // no NUL: blanks kept, one comma cut
        {{}, {}},  // the second call fills nothing: one zero entry
        {{"10.0.0.1"}, {}, 87},  // the size query fails
        {{"10.0.0.1"}, {"old"}, platform::kErrorBufferOverflow, false},
    };
    for (const auto& row : rows) {
        fakes::FakeNetworkParams params;
        for (auto e : row.entries) params.Add(e);
        params.sizeCode = row.sizeCode;
        params.available = row.available;
        fakes::RecordingMessageBox box;
        CheckState state;
        state.DnsServers = {"old"};
        EXPECT_EQ(FindDnsServer(params, box, state), row.available && !row.servers.empty() ? row.servers[0] : "");
        EXPECT_EQ(state.DnsServers, row.servers);
        EXPECT_EQ(box.shown, row.available ? Servers{} : Servers{"Error 001: Iphlpapi.dll load error"});
    }
}

}  // namespace
}  // namespace tarnwell
