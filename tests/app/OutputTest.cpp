// The console checker's formatting of check records: severity, JSON lines
// (parsed back, not compared as text) and the monitoring plugin's lines.
#include "app/CheckOutput.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarnwell::output {
namespace {

CheckRecord Record(std::string domain, CheckEnd end, std::vector<std::string> system = {},
                   std::vector<std::string> server = {}, int ms = 0) {
    CheckRecord r;
    r.domain = std::move(domain), r.end = end, r.systemAddresses = std::move(system);
    r.serverAddresses = std::move(server), r.elapsed = std::chrono::milliseconds(ms);
    return r;
}

TEST(Output, MostSevere) {
    const struct { std::vector<int> statuses; std::span<const int> order; int worst; } rows[] = {
        {{0, 2, 3, 1, 0}, kConsoleSeverity, 1}, {{0, 2, 3}, kConsoleSeverity, 3}, {{2, 0}, kConsoleSeverity, 2},
        {{0, 0}, kConsoleSeverity, 0}, {{0, 3, 1}, kPluginSeverity, 1}, {{1, 2, 3}, kPluginSeverity, 2},
        {{0, 3}, kPluginSeverity, 3}, {{0}, kPluginSeverity, 0}};
    for (const auto& r : rows) EXPECT_EQ(MostSevere(r.statuses, r.order), r.worst);
}

TEST(Output, EveryOutcome) {
    const struct { CheckEnd end; const char* outcome; PluginState state; int status; } rows[] = {
        {CheckEnd::Match, "match", kPluginOk, 0}, {CheckEnd::Mismatch, "mismatch", kPluginCritical, 1},
        {CheckEnd::Inconclusive, "inconclusive", kPluginUnknown, 3}, {CheckEnd::Rejected, "rejected", kPluginUnknown, 2},
        {CheckEnd::ResolverFailed, "unresolved", kPluginWarning, 2}, {CheckEnd::NoServer, "no_server", kPluginWarning, 2}};
    for (const auto& r : rows) {
        const auto json = nlohmann::json::parse(JsonLine(Record("a.test", r.end)));
        EXPECT_EQ(json.at("outcome"), r.outcome);
        EXPECT_EQ(json.size(), 10u);
        EXPECT_EQ(PluginStateOf(r.end), r.state);
        EXPECT_EQ(StatusOf(r.end), r.status);
    }
}

const CheckRecord kMismatch = [] {
    CheckRecord r = Record("b.test", CheckEnd::Mismatch, {"10.0.0.1", "10.0.0.2"}, {"10.1.1.1", "10.1.1.2"}, 1250);
    r.queryName = "b.test", r.server = "10.0.0.53", r.rcode = 0, r.hostsFile = "/etc/hosts";
    r.hostsLines = {{{3, "10.0.0.1 b.test", "10.0.0.1", false}}, 1};
    return r;
}();

TEST(Output, JsonFields) {
    const auto full = nlohmann::json::parse(JsonLine(kMismatch));
    EXPECT_EQ(full.at("query_name"), "b.test");
    EXPECT_EQ(full.at("system_address"), "10.0.0.1");
    EXPECT_EQ(full.at("server"), "10.0.0.53");
    EXPECT_EQ(full.at("server_addresses"), nlohmann::json({"10.1.1.1", "10.1.1.2"}));
    EXPECT_EQ(full.at("rcode"), 0);
    EXPECT_EQ(full.at("hosts_file"), "/etc/hosts");
    EXPECT_EQ(full.at("hosts_lines"), nlohmann::json::parse(R"([{"line": 3, "text": "10.0.0.1 b.test"}])"));
    EXPECT_EQ(full.at("elapsed_ms"), 1250);
    const auto empty = nlohmann::json::parse(JsonLine({}));
    for (const char* field : {"query_name", "system_address", "server", "rcode", "hosts_file"})
        EXPECT_TRUE(empty.at(field).is_null()) << field;
}

TEST(Output, JsonOfHostileText) {
    CheckRecord r = Record("\"q\\\x01\n\x7f", CheckEnd::Rejected);
    r.hostsLines.lines.push_back({1, "1.2.3.4 b\xff\xfe\xe2\x82", "1.2.3.4", false});
    const std::string line = JsonLine(r);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json.at("domain"), r.domain);
    EXPECT_EQ(json.at("hosts_lines").at(0).at("text"), "1.2.3.4 b\uFFFD\uFFFD\uFFFD");
}

TEST(Output, PluginLines) {
    const CheckRecord match = Record("a.test", CheckEnd::Match, {"10.0.0.1"}, {"10.0.0.1"}, 5);
    EXPECT_EQ(PluginOutput({match, kMismatch}), (std::vector<std::string>{
        "TARNWELL CRITICAL - 1 of 2 domains match; b.test: 10.0.0.1 not among the DNS server's 10.1.1.1, "
        "10.1.1.2; hosts file /etc/hosts line 3: 10.0.0.1 b.test|time=1.255s;;;0",
        "[OK] a.test: 10.0.0.1 among the DNS server's 10.0.0.1",
        "[CRITICAL] b.test: 10.0.0.1 not among the DNS server's 10.1.1.1, 10.1.1.2; hosts file /etc/hosts line 3: "
        "10.0.0.1 b.test"}));
    EXPECT_EQ(PluginOutput({match}).front(), "TARNWELL OK - a.test: 10.0.0.1 among the DNS server's 10.0.0.1|time=0.005s;;;0");
    EXPECT_EQ(PluginLine(Record("a|b\n", CheckEnd::Rejected)), "a?b?: not a domain name DNS can carry");
}

}  // namespace
}  // namespace tarnwell::output
