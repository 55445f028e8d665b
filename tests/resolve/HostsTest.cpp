// The hosts file's lines that map a name: the whole Matches value per case.
#include "resolve/HostsFile.h"
#include <gtest/gtest.h>

#include <algorithm>

namespace tarnwell::hosts {
void PrintTo(const Line& l, std::ostream* os) { *os << l.number << " [" << l.text << "] " << l.address << " " << l.blocking; }
void PrintTo(const Matches& m, std::ostream* os) {
    *os << m.total << " " << testing::PrintToString(m.lines) << " " << m.addresses.size() << " addresses";
}
namespace {
struct Row { const char* name; std::string file, query; Matches want; platform::HostsSyntax syntax = platform::kGlibcHosts; };
std::string Times(std::size_t n, const std::string& s) { return n == 0 ? "" : s + Times(n - 1, s); }
// Twenty lines "0.0.0.0 a.test" shown of `total`, mapping it to `addresses`.
Matches TwentyOf(std::size_t total, std::vector<Address> addresses = {}) {
    Matches m{{}, total, std::move(addresses)};
    for (std::size_t k = 1; k <= kMaxShownLines; ++k) m.lines.push_back({k, "0.0.0.0 a.test", "0.0.0.0", true});
    return m;
}
const std::string kLong = "1.2.3.4 a.test " + Times(285, "ё");

const Row kRows[] = {
    {"Match", "127.0.0.1 localhost\n192.0.2.1 a.test\n", "a.test", {{{2, "192.0.2.1 a.test", "192.0.2.1"}}, 1}},
    {"TwoLines", "1.2.3.4 a.test\n# x\n5.6.7.8 a.test\n", "a.test",
     {{{1, "1.2.3.4 a.test", "1.2.3.4"}, {3, "5.6.7.8 a.test", "5.6.7.8"}}, 2}},
    {"AliasInThirdField", "1.2.3.4 b.test a.test c\n", "a.test", {{{1, "1.2.3.4 b.test a.test c", "1.2.3.4"}}, 1}},
    {"OtherCase", "1.2.3.4 A.Test\n", "a.TEST", {{{1, "1.2.3.4 A.Test", "1.2.3.4"}}, 1}},
    {"IdnByAce", "1.2.3.4 пример.рф\n5.6.7.8 xn--e1afmkfd.xn--p1ai\n", "xn--e1afmkfd.xn--p1ai",
     {{{2, "5.6.7.8 xn--e1afmkfd.xn--p1ai", "5.6.7.8"}}, 1}},
    {"OneTrailingDotEachSide", "1.2.3.4 a.test.\n5.6.7.8 a.test..\n", "a.test.", {{{1, "1.2.3.4 a.test.", "1.2.3.4"}}, 1}},
    {"InCommentOnly", "# 1.2.3.4 a.test\n\n1.2.3.4 b.test # a.test\n", "a.test", {}},
    {"HashGluedToName", "1.2.3.4 a.test#x\n5.6.7.8 b.test#a.test\n", "a.test", {{{1, "1.2.3.4 a.test", "1.2.3.4"}}, 1}},
    {"CrLfAndNoFinalLf", "1.2.3.4 a.test\r\n\r\n5.6.7.8 a.test", "a.test",
     {{{1, "1.2.3.4 a.test", "1.2.3.4"}, {3, "5.6.7.8 a.test", "5.6.7.8"}}, 2}},
    {"Tabs", "\t1.2.3.4\t\tb.test\ta.test \t# c\n", "a.test", {{{1, "\t1.2.3.4\t\tb.test\ta.test", "1.2.3.4"}}, 1}},
    {"Ipv6", "2001:db8::1 a.test\n0:0:0:0:0:0:0:1 a.test\n", "a.test",
     {{{1, "2001:db8::1 a.test", "2001:db8::1"}, {2, "0:0:0:0:0:0:0:1 a.test", "0:0:0:0:0:0:0:1", true}}, 2}},
    {"BlockingAfterAByteOrderMark", "\xEF\xBB\xBF" "0.0.0.0 a.test\n127.0.0.1 a.test\n127.1.2.3 a.test\n", "a.test",
     {{{1, "0.0.0.0 a.test", "0.0.0.0", true}, {2, "127.0.0.1 a.test", "127.0.0.1", true}, {3, "127.1.2.3 a.test", "127.1.2.3", true}}, 3}},
    {"NotBlocking", "10.0.0.1 a.test\n128.0.0.1 a.test\n127.0.0.256 a.test\n::101 a.test\n", "a.test",
     {{{1, "10.0.0.1 a.test", "10.0.0.1"}, {2, "128.0.0.1 a.test", "128.0.0.1"}, {3, "127.0.0.256 a.test", "127.0.0.256"},
       {4, "::101 a.test", "::101"}}, 4}},
    {"TwentyShownOfTwentyFive", Times(25, "0.0.0.0 a.test\n"), "a.test", TwentyOf(25)},
    {"AddressesOfLinesNotShown", Times(20, "0.0.0.0 a.test\n") + "10.0.0.1 a.test\n::1 a.test\n10.0.0.1 a.test\n",
     "a.test", TwentyOf(23, {*Address::Parse("0.0.0.0"), *Address::Parse("10.0.0.1"), *Address::Parse("::1")})},
    {"UnsafeBytes", "1.2.3.4\x1b[2J a.test ё\xc0\xaf\xe2\x81\xa9\xe2\x80\xae\xff\xc2\x85\x7f\r\xe2\x82", "a.test",
     {{{1, "1.2.3.4?[2J a.test ё??????????", "1.2.3.4?[2J"}}, 1}},
    {"LongLineCut", kLong, "a.test", {{{1, kLong.substr(0, 15 + 2 * 185) + "...", "1.2.3.4"}}, 1}},
    {"NameAfterLongFields", "1.2.3.4 " + std::string(900, 'b') + std::string(900, ' ') + "a.test", "a.test",
     {{{1, "1.2.3.4 " + std::string(192, 'b') + "...", "1.2.3.4"}}, 1}},
    {"NoMatch", "1.2.3.4 b.test\na.test\n1.2.3.4 a.testx xa.test a.tes\n", "a.test", {}},
    {"GlibcBlanks", "1.2.3.4\va.test\n5.6.7.8\fa.test\n9.9.9.9\ra.test\rb\n", "a.test",
     {{{1, "1.2.3.4?a.test", "1.2.3.4"}, {2, "5.6.7.8?a.test", "5.6.7.8"}, {3, "9.9.9.9?a.test?b", "9.9.9.9"}}, 3}},
    {"GlibcNulEndsLine", std::string("1.2.3.4 b.test\0 a.test\n5.6.7.8 a.test\0x\n", 40), "a.test",
     {{{2, "5.6.7.8 a.test", "5.6.7.8"}}, 1}},
    {"WindowsBlanksOnly", "1.2.3.4\va.test\n5.6.7.8\ta.test\r\n", "a.test", {{{2, "5.6.7.8\ta.test", "5.6.7.8"}}, 1},
     platform::kWindowsHosts},
};

class Hosts : public testing::TestWithParam<Row> {};
TEST_P(Hosts, FindLines) {
    const Row& row = GetParam();
    Matches want = row.want;  // the addresses, unless the row names them: of the lines shown, each once
    for (const auto& line : row.want.addresses.empty() ? want.lines : std::vector<Line>{})
        if (const auto a = Address::Parse(line.address, true); a && std::ranges::count(want.addresses, *a) == 0)
            want.addresses.push_back(*a);
    EXPECT_EQ(FindLines(row.file, row.query, row.syntax), want);
    Finder octets(row.query, row.syntax);  // the same file fed an octet at a time
    for (const char& c : row.file) octets.Feed({&c, 1});
    EXPECT_EQ(octets.End(), want);
}
INSTANTIATE_TEST_SUITE_P(Cases, Hosts, testing::ValuesIn(kRows), [](const auto& info) { return info.param.name; });
}  // namespace
}  // namespace tarnwell::hosts
