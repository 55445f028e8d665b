#pragma once
#include "common/Address.h"
#include "platform/Http.h"
#include "platform/Serve.h"
#include "platform/Tls.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The witnesses: independent DNS servers asked over HTTPS (RFC 8484), whose
// answers a rogue server on the computer's road cannot forge.
namespace tarnwell {

// The whole wait for the witnesses, however many and whatever they do.
inline constexpr std::chrono::milliseconds kWitnessWait{2000};
inline constexpr std::string_view kDnsMessageType = "application/dns-message";
inline constexpr std::size_t kMaxDnsMessage = 65535;  // RFC 8484 section 6

// What a witness said, the most telling first.
enum class WitnessResult {
    Answered,   // a whole reply with the name's addresses, or none of a family (NODATA)
    NxDomain,   // the name does not exist there: no evidence either way (an intranet name)
    Untrusted,  // its certificate did not verify: never believed
    Error,      // refused, an HTTP error, a body that is no whole reply to the query
    Silent      // nothing within the wait
};

// One query posted to a witness and how it ended.
struct WitnessExchange {
    bool v6 = false;  // an AAAA query, else A
    std::vector<std::uint8_t> query;
    platform::HttpsReply reply;
};

// What one witness's whole replies gave.
struct WitnessWhole {
    bool wholeV4 = false;  // a whole reply to its A query with no name error
    bool wholeV6 = false;  // likewise AAAA
    std::vector<Address> addresses = {};
    bool operator==(const WitnessWhole&) const = default;
};

// What the witnesses said together.
struct WitnessAnswer {
    std::vector<std::size_t> answered = {};  // the witnesses, by index, with a whole reply (NXDOMAIN too)
    WitnessResult result = WitnessResult::Silent;  // the first to answer's, else the first asked's
    std::vector<Address> addresses = {};  // of every whole reply, each once: A first, then AAAA
    bool wholeV4 = false;               // a whole reply to an A query with no name error
    bool wholeV6 = false;               // likewise AAAA
    std::vector<WitnessWhole> each = {};  // one per witness, in the settings' order
    bool operator==(const WitnessAnswer&) const = default;
};

// Reads the exchanges of each witness (one list per witness, in the
// settings' order) with the reader's every rule.
WitnessAnswer ReadWitnesses(const std::vector<std::vector<WitnessExchange>>& exchanges);

// Asks every witness at once for the A records of `qname` (wire form) and,
// when `aaaa`, its AAAA records, each query in a POST with identifier 0
// (RFC 8484 section 4.1); ends within `wait`, serving the window when
// `serve` is set.
// Each post goes through the proxy `road` gives for its URL (none: straight).
WitnessAnswer AskWitnesses(platform::Http& http, const std::vector<std::string>& urls,
                           std::span<const std::uint8_t> qname, bool aaaa, std::chrono::milliseconds wait,
                           const platform::Serve& serve, const platform::RoadFor& road = {});

}  // namespace tarnwell
