// The question name and the query message for any domain text, valid UTF-8
// or not: EncodeQName's labels, and BuildQuery's header, length and bytes.
#include "fuzz/FuzzCheck.h"
#include "platform/CodePage.h"
#include "common/Failure.h"
#include "resolve/DNS_HostByName.h"
#include "resolve/DNS_IP_READER.h"
#include "common/Text.h"

#include <algorithm>
#include <cstdint>
#include <optional>

using namespace tarnwell;
using fuzz::Check;

namespace {

// EncodeQName against the decoded characters: one length character per
// label (the dots' places and one in front), each counting the characters
// up to the next one; a Failure exactly when a label is over 255.
std::optional<QName> CheckEncoded(const std::string& text) {
    const std::u32string chars = text::Decode(text);
    std::size_t longest = 0, current = 0;
    for (char32_t c : chars) {
        current = c == U'.' ? 0 : current + 1;
        longest = std::max(longest, current);
    }
    QName q;
    try {
        q = EncodeQName(text);
    } catch (const Failure&) {
        Check(longest > 255, "EncodeQName failed with no label over 255");
        return std::nullopt;
    }
    Check(longest <= 255, "EncodeQName took a label over 255");
    Check(q.size() == chars.size() + 1, "QName is not one longer than the text");
    std::size_t k = 0;
    for (std::size_t i = 0; i < q.size();) {
        Check(q[i].isLength, "label does not start with its length");
        const std::size_t length = q[i].ch;
        ++i;
        for (std::size_t n = 0; n < length; ++n, ++i, ++k) {
            Check(i < q.size() && !q[i].isLength, "label shorter than its length");
            Check(q[i].ch == chars[k] && chars[k] != U'.', "label character differs from the text");
        }
        if (i < q.size()) Check(chars[k++] == U'.', "label ends before a non-dot");
    }
    Check(k == chars.size(), "QName does not cover the text");
    return q;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string domain(reinterpret_cast<const char*>(data), size);
    CheckEncoded(domain);

    // The query carries the name in the form LookupName gives.
    const std::string name = LookupName(domain);
    Check(name == domain || std::all_of(name.begin(), name.end(),
                                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }),
          "LookupName changed the text into one that is not ASCII");
    const auto q = CheckEncoded(name);
    const std::size_t length = q ? q->size() : 0;  // a failed encoding asks for the root

    const std::vector<std::uint8_t> m = BuildQuery(domain);
    const std::uint8_t header[12] = {0x11, 0xDF, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    Check(m.size() >= 12 && std::equal(header, header + 12, m.begin()), "header bytes");

    // Positions count in 16 bits: past 32,767 the name's step fails and
    // the message is the root question.
    const std::size_t expected = 12 + length <= 32767 ? std::min<std::size_t>(17 + length, 32767) : 17;
    Check(m.size() == expected, "message length is not 17 + the name's characters");
    if (12 + length + 5 > 32767) return 0;

    auto byteAt = [&](std::size_t position, std::uint8_t value) {
        // Positions past the buffer's last one (4000) stay zero.
        return m[position] == (position < kMessageCapacity ? value : 0);
    };
    for (std::size_t i = 0; i < length; ++i) {
        const QChar c = (*q)[i];
        const std::uint8_t value =
            c.isLength ? static_cast<std::uint8_t>(c.ch) : platform::AnsiByte(c.ch).value_or(0);
        Check(byteAt(12 + i, value), "name byte");
    }
    const std::uint8_t tail[5] = {0, 0, 1, 0, 1};
    for (std::size_t k = 0; k < 5; ++k) Check(byteAt(12 + length + k, tail[k]), "final zero, QTYPE or QCLASS");
    return 0;
}
