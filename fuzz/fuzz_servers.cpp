// DNS server discovery: CutAtNull on any field text, and FindDnsServer over
// a fake network parameters service whose entries come from the input.
//
// Input: one byte of flags (bit 0: the service is missing; bit 1: the size
// query gives another code), then the entries, 16 bytes each (the last one
// padded with zeros).
#include "fuzz/FuzzCheck.h"
#include "platform/CodePage.h"
#include "resolve/DNS_SRV_FIND.h"
#include "tests/fakes/Fakes.h"

#include <cstdint>

using namespace tarnwell;
using fuzz::Check;

namespace {

std::string WithoutBlanksAndCommas(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ' && c != ',') out.push_back(c);
    return out;
}

void CheckCut(const std::string& text) {
    const std::string cut = CutAtNull(text);
    const auto nul = text.find('\0');
    if (nul == std::string::npos) {
        Check(cut == text, "a text without NUL was changed");
        return;
    }
    std::size_t first = 0, last = nul;
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    Check(cut == text.substr(first, last - first), "not the text before the NUL without end blanks");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return -1;
    CheckCut(std::string(reinterpret_cast<const char*>(data + 1), size - 1));

    fakes::FakeNetworkParams params;
    params.available = !(data[0] & 1);
    if (data[0] & 2) params.sizeCode = 87;
    for (std::size_t at = 1; at < size; at += 16)
        params.Add({reinterpret_cast<const char*>(data + at), std::min<std::size_t>(16, size - at)});

    fakes::RecordingMessageBox box;
    CheckState state;
    state.DnsServers = {"earlier"};
    const std::string first = FindDnsServer(params, box, state);

    if (!params.available) {
        Check(first.empty(), "a server without the service");
        Check(box.shown.size() == 1 && box.shown[0].prompt == "Iphlpapi.dll load error",
              "no load error box for a missing service");
        Check(state.DnsServers == std::vector<std::string>{"earlier"}, "list replaced without the service");
        return 0;
    }
    Check(box.shown.empty(), "a box with the service present");
    Check(first == (state.DnsServers.empty() ? std::string() : state.DnsServers.front()),
          "the result is not the first listed server");
    std::string joined;
    for (const auto& s : state.DnsServers) {
        Check(s.find_first_of(std::string(" ,\0", 3)) == std::string::npos, "blank, comma or NUL in a server");
        joined += s;
    }
    if (params.sizeCode != platform::kErrorBufferOverflow) {
        Check(state.DnsServers.empty(), "servers without a size to read them");
        return 0;
    }
    // Every field's text before its NUL, and nothing else, in order.
    std::string expected;
    for (const auto& e : params.entries)
        expected += WithoutBlanksAndCommas(CutAtNull(platform::FromAnsi({e.data(), e.size()})));
    Check(joined == expected, "the servers are not the fields' texts");
    return 0;
}
