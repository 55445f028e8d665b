// PAC scripts run by RunPac: their answers, the faults of hostile ones, and the
// globals that ask the host, against a fake host.
#include "platform/Proxy.h"

#include <gtest/gtest.h>

using namespace tarnwell;
using namespace tarnwell::platform;
using Clock = std::chrono::steady_clock;

namespace {

Address A(const char* text) { return *Address::Parse(text); }

const PacHost kHost{
    [](const std::string& host, Clock::time_point) {
        return host == "www.bank.example" ? std::vector{A("2001:db8::7"), A("10.0.0.7"), A("10.0.0.8")}
                                          : std::vector<Address>{};
    },
    [] { return std::vector{A("127.0.0.1"), A("::1"), A("2001:db8::20"), A("192.168.1.20")}; },
};

struct Row {
    const char* name;
    const char* script;
    PacFault fault;
    std::vector<std::string> results;  // for https://www.bank.example/login, then http://news.example/
};

#define PAC(body) "function FindProxyForURL(u, h) { " body " }"
// A script that answers with its expressions' values, '|' between them.
#define VALUES(list) PAC("return [" list "].map(String).join('|');")

const Row kRows[] = {
    {"targeted", PAC("return shExpMatch(h, '*bank*') ? 'PROXY p.example:8080' : 'DIRECT';"), PacFault::None,
     {"PROXY p.example:8080", "DIRECT"}},
    {"all", PAC("return 'SOCKS5 s.example:1080';"), PacFault::None, {"SOCKS5 s.example:1080", "SOCKS5 s.example:1080"}},
    {"direct", PAC("return 'DIRECT';"), PacFault::None, {"DIRECT", "DIRECT"}},
    {"fallback", PAC("return 'PROXY a:1; DIRECT';"), PacFault::None, {"PROXY a:1; DIRECT", "PROXY a:1; DIRECT"}},
    {"schemes apart", PAC("return u.substring(0, 6) == 'https:' ? 'HTTPS t.example:443' : 'PROXY h:80';"),
     PacFault::None, {"HTTPS t.example:443", "PROXY h:80"}},
    {"loop, caught", PAC("for (;;) try { while (1) {} } catch (e) {}"), PacFault::Timeout, {}},
    {"backtracking, caught", "for (;;) try { /^(a+)+$/.test('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!'); } catch (e) {}",
     PacFault::Timeout, {}},
    {"memory without end", "var a = []; for (;;) a.push({n: a.length});", PacFault::Memory, {}},
    {"throws", PAC("throw new Error('no');"), PacFault::Script, {}},
    {"no compile", "function FindProxyForURL( {", PacFault::Script, {}},
    {"no FindProxyForURL", "var FindProxyForUrl = 1;", PacFault::Script, {}},
    {"a number", PAC("return 42;"), PacFault::Answer, {}},
    {"too long", PAC("return new Array(5000).join('x');"), PacFault::Answer, {}},
    {"pure globals",
     VALUES("isPlainHostName(h), dnsDomainIs(h, '.bank.example'), localHostOrDomainIs('www', 'www.bank.example'),"
            "localHostOrDomainIs(h, 'www.bank'), dnsDomainLevels(h), shExpMatch(u, 'https://*.bank.*/log?n'),"
            "weekdayRange('MON', 'SUN'), dateRange('JAN', 'DEC'), timeRange(0, 24), alert('x'), getClientVersion(),"
            "isPlainHostName('intranet')"),
     PacFault::None,
     {"false|true|true|false|2|true|true|true|true|undefined|1.0|true",
      "false|false|true|false|1|false|true|true|true|undefined|1.0|true"}},
    {"host globals",
     VALUES("dnsResolve(h), dnsResolveEx(h), isResolvable(h), isResolvableEx(h),"
            "isInNet(h, '10.0.0.0', '255.255.255.0'), isInNet('10.1.0.1', '10.0.0.0', '255.0.0.0'),"
            "isInNetEx(h.length > 12 ? '2001:db8::7' : '10.0.0.7', '2001:db8::/32'),"
            "isInNetEx('10.0.0.7', '10.0.0.0/29'), isInNetEx('10.0.0.9', '10.0.0.0/29'),"
            "isInNetEx('10.0.0.7', '10.0.0.0/33'), myIpAddress(), myIpAddressEx(),"
            "sortIpAddressList('10.0.0.2; 2001:db8::1;10.0.0.1;::1'), sortIpAddressList('10.0.0.1;junk'),"
            "dnsResolve(42)"),
     PacFault::None,
     {"10.0.0.7|2001:db8::7;10.0.0.7;10.0.0.8|true|true|true|true|true|true|false|false|192.168.1.20|"
      "2001:db8::20;192.168.1.20|::1;2001:db8::1;10.0.0.1;10.0.0.2|false|null",
      "null||false|false|false|true|false|true|false|false|192.168.1.20|"
      "2001:db8::20;192.168.1.20|::1;2001:db8::1;10.0.0.1;10.0.0.2|false|null"}},
};

TEST(Pac, Scripts) {
    const std::vector<PacCall> calls{{"https://www.bank.example/login", "www.bank.example"},
                                     {"http://news.example/", "news.example"}};
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        const PacOutcome out = RunPac(row.script, calls, deadline, kHost);
        EXPECT_LT(Clock::now(), deadline + std::chrono::milliseconds(500));  // did not hang
        EXPECT_EQ(out.fault, row.fault);
        EXPECT_EQ(out.results, row.results);
    }
}

}  // namespace
