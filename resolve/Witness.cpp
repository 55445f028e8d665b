#include "resolve/Witness.h"

#include "common/Step.h"
#include "resolve/DnsMessage.h"

#include <algorithm>
#include <functional>

namespace tarnwell {

namespace {

struct Heard {
    WitnessResult result = WitnessResult::Silent;
    std::vector<Address> addresses = {};
};

Heard Hear(const WitnessExchange& x) {
    switch (x.reply.end) {
        case platform::HttpsEnd::Timeout: return {WitnessResult::Silent};
        case platform::HttpsEnd::Untrusted: return {WitnessResult::Untrusted};
        case platform::HttpsEnd::Failed: return {WitnessResult::Error};
        case platform::HttpsEnd::Reply: break;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(x.reply.body.data());
    const std::span<const std::uint8_t> body(bytes, x.reply.body.size());
    if (!dns::IsReplyTo(body, x.query)) return {WitnessResult::Error};
    dns::Reading reading;
    if (!Step([&] { reading = dns::ReadReply(body); }) || !reading.usable) return {WitnessResult::Error};
    if (reading.rcode == dns::kNameError) return {WitnessResult::NxDomain};
    if (!reading.complete) return {WitnessResult::Error};
    return {WitnessResult::Answered, std::move(reading.addresses)};
}

void AddOnce(std::vector<Address>& to, const Address& a) {
    if (std::find(to.begin(), to.end(), a) == to.end()) to.push_back(a);
}

}  // namespace

WitnessAnswer ReadWitnesses(const std::vector<std::vector<WitnessExchange>>& exchanges) {
    WitnessAnswer answer;
    std::vector<WitnessResult> results;
    answer.each.resize(exchanges.size());
    for (std::size_t w = 0; w < exchanges.size(); ++w) {
        // A witness's result: answered when one of its replies was whole,
        // else a name error, else how its first query ended.
        std::vector<WitnessResult> own;
        for (const auto& x : exchanges[w]) {
            Heard heard = Hear(x);
            own.push_back(heard.result);
            if (heard.result != WitnessResult::Answered) continue;
            auto& whole = answer.each[w];
            (x.v6 ? answer.wholeV6 : answer.wholeV4) = true;
            (x.v6 ? whole.wholeV6 : whole.wholeV4) = true;
            for (const auto& a : heard.addresses) AddOnce(answer.addresses, a), AddOnce(whole.addresses, a);
        }
        const auto best = own.empty() ? WitnessResult::Silent : *std::min_element(own.begin(), own.end());
        const auto result = best <= WitnessResult::NxDomain || own.empty() ? best : own.front();
        if (result <= WitnessResult::NxDomain) answer.answered.push_back(w);
        results.push_back(result);
    }
    if (!results.empty()) answer.result = answer.answered.empty() ? results.front() : results[answer.answered.front()];
    std::stable_partition(answer.addresses.begin(), answer.addresses.end(), [](const Address& a) { return a.IsV4(); });
    return answer;
}

WitnessAnswer AskWitnesses(platform::Http& http, const std::vector<std::string>& urls,
                           std::span<const std::uint8_t> qname, bool aaaa, std::chrono::milliseconds wait,
                           const platform::Serve& serve, const platform::RoadFor& road) {
    // Each witness's road first: finding it (an auto-config file run) takes none of the posts' time.
    std::vector<platform::ProxyEntry> vias;
    for (const auto& url : urls) vias.push_back(road ? road(url) : platform::ProxyEntry{});
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<std::vector<WitnessExchange>> exchanges(urls.size());
    std::vector<platform::HttpsPost> posts;
    for (std::size_t w = 0; w < urls.size(); ++w) {
        const platform::ProxyEntry& via = vias[w];
        for (const bool v6 : {false, true}) {
            if (v6 && !aaaa) continue;
            auto query = dns::BuildQuery(qname, v6 ? dns::kTypeAaaa : dns::kTypeA, 0);
            posts.push_back(
                {urls[w], std::string(kDnsMessageType), std::string(query.begin(), query.end()), kMaxDnsMessage, via});
            exchanges[w].push_back({v6, std::move(query), {}});
        }
    }
    // A post still running at the deadline is silent.
    const auto replies = http.PostAll(posts, deadline, serve);
    std::size_t i = 0;
    for (auto& witness : exchanges)
        for (auto& x : witness) x.reply = i < replies.size() ? replies[i++] : platform::HttpsReply{platform::HttpsEnd::Timeout, {}};
    return ReadWitnesses(exchanges);
}

}  // namespace tarnwell
