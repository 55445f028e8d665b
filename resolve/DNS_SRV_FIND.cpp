#include "resolve/DNS_SRV_FIND.h"

#include "platform/CodePage.h"
#include "resolve/Resume.h"

#include <algorithm>

namespace tarnwell {

std::string CutAtNull(std::string text) {
    const auto nul = text.find('\0');
    if (nul == std::string::npos) return text;
    if (nul == 0) return {};
    text.resize(nul);
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string FindDnsServer(platform::NetworkParams& params, platform::MsgBox& box,
                          CheckState& state) {
    bool available = false;
    Step([&] { available = params.Available(); });
    if (!available) {
        Step([&] { box.Show("Iphlpapi.dll load error", platform::kMbInformation, "Error 001"); });
        return {};
    }

    std::string list;
    std::uint32_t size = 0;
    std::uint32_t code = 0;
    Step([&] { code = params.QuerySize(size); });
    if (code == platform::kErrorBufferOverflow) {
        std::vector<platform::IpAddressString> entries;
        Step([&] { entries = params.DnsServerList(size); });
        // A buffer the second call did not fill reads as zeros: one entry
        // with an empty address text and no successor.
        if (entries.empty()) entries.push_back({});
        for (const auto& entry : entries) {
            Step([&] {
                list += CutAtNull(platform::FromAnsi({entry.data(), entry.size()}));
                list += ',';
            });
        }
    }

    std::replace(list.begin(), list.end(), ' ', ',');
    if (!list.empty() && list.back() == ',') list.pop_back();

    std::vector<std::string> servers;
    if (!list.empty()) {
        std::size_t start = 0;
        for (;;) {
            const auto comma = list.find(',', start);
            servers.push_back(list.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    state.DnsServers = std::move(servers);
    return state.DnsServers.empty() ? std::string{} : state.DnsServers.front();
}

}  // namespace tarnwell
