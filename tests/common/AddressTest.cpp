// Address text both ways: what is read, and how it is written (RFC 5952's
// own examples among them).
#include "common/Address.h"
#include "tests/Rows.h"

namespace tarnwell {
namespace {

struct AddressRow {
    const char* name;
    std::string text;
    std::optional<std::string> written;  // nothing: refused
    bool zoned = false;
};
using AddressText = testing::TestWithParam<AddressRow>;

TEST_P(AddressText, ReadAndWritten) {
    const auto& row = GetParam();
    const auto address = Address::Parse(row.text, row.zoned);
    ASSERT_EQ(address.has_value(), row.written.has_value());
    if (!address) return;
    EXPECT_EQ(address->Text(), *row.written);
    EXPECT_EQ(Address::Parse(*row.written, row.zoned), address);  // the written text reads back the same
}

const AddressRow kAddresses[] = {
    {"dotted", "0.127.128.255", "0.127.128.255"},
    {"5952 4.1: leading zeros", "2001:0db8::0001", "2001:db8::1"},
    {"5952 4.2.1: longest run", "2001:db8:0:0:0:0:2:1", "2001:db8::2:1"},
    {"5952 4.2.2: one zero group kept", "2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
    {"5952 4.2.3: longer run later", "2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},
    {"5952 4.2.3: first of equal runs", "2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
    {"5952 4.3: lower case", "2001:DB8::ABCD", "2001:db8::abcd"},
    {"unspecified", "::", "::"},
    {"loopback", "0:0:0:0:0:0:0:1", "::1"},
    {"run at the end", "1:0:0:0:0:0:0:0", "1::"},
    {"5952 5: IPv4-mapped", "::FFFF:c000:0201", "::ffff:192.0.2.1"},
    {"other embedded IPv4", "64:ff9b::192.0.2.1", "64:ff9b::c000:201"},
    {"not IPv4-mapped", "::ff00:c000:201", "::ff00:c000:201"},
    {"embedded IPv4 after six groups", "1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304"},
    {"one group as ::", "1:2:3::5:6:7:8", "1:2:3:0:5:6:7:8"},
    {"zone", "fe80::1%eth0", "fe80::1%eth0", true},
    {"zone not taken", "fe80::1%eth0", {}},
    {"empty zone", "fe80::1%", {}, true},
    {"inet_aton's two parts", "10.1", {}},
    {"hex part", "0x7f.0.0.1", {}},
    {"leading zero (octal)", "01.2.3.4", {}},
    {"over 255", "256.1.1.1", {}},
    {"five parts", "1.2.3.4.5", {}},
    {"trailing dot", "1.2.3.4.", {}},
    {"nine groups", "1:2:3:4:5:6:7:8:9", {}},
    {"two ::", "1::2::3", {}},
    {"eight groups and ::", "1:2:3:4::5:6:7:8", {}},
    {"single leading colon", ":1::", {}},
    {"single trailing colon", "1:2:3:4:5:6:7:", {}},
    {"five hex digits", "12345::", {}},
    {"short embedded IPv4", "::ffff:1.2.3", {}},
    {"embedded IPv4 too late", "1:2:3:4:5:6:7:1.2.3.4", {}},
    {"empty", "", {}},
};
TARNWELL_ROWS(AddressText, kAddresses);

}  // namespace
}  // namespace tarnwell
