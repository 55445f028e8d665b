// Any text as a proxy setting, an auto-config result and a bypass list: whatever is read reads back the same, and
// localhost goes direct unless the list says "<-loopback>".
#include "resolve/ProxyRules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

using namespace tarnwell::proxy;
using tarnwell::platform::ProxySettings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto entry = ParseProxy(text)) {  // "WORD host:port" is the URI "WORD://host:port"
        auto uri = EntryText(*entry);
        if (entry->host.empty() || entry->port == 0 || ParseProxy(uri.replace(uri.find(' '), 1, "://"), {}) != entry)
            std::abort();
    }
    if (const auto entries = ParsePacResult(text)) {
        std::string again;
        for (const auto& e : *entries)  // "HTTP h:p" is "PROXY h:p" there
            again += (e.scheme == ProxyScheme::Http ? "PROXY" + EntryText(e).substr(4) : EntryText(e)) + ";";
        if (entries->empty() || entries->size() > kMaxEntries || ParsePacResult(again) != entries) std::abort();
    }
    if (WithoutCredentials(text).size() > size) std::abort();
    constexpr std::string_view kTakeAway = "<-loopback>";
    const bool keepsLoopback = std::search(text.begin(), text.end(), kTakeAway.begin(), kTakeAway.end(), [](char t, char w) {
                                   return std::tolower(static_cast<unsigned char>(t)) == w;
                               }) == text.end();
    for (const auto syntax : {ProxySettings::BypassSyntax::Suffix, ProxySettings::BypassSyntax::Wildcard}) {
        const BypassRules rules(text, syntax);
        if (keepsLoopback && !rules.Matches("http", "localhost", 80)) std::abort();
        for (const auto* host : {"a.example.com", "192.168.1.1", "fe80::1"}) rules.Matches("https", host, 8080);
    }
    return 0;
}
