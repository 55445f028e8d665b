#pragma once
// What the fuzz targets share: a check that stops the run with a finding,
// and the invariants of the report lines the reply reader writes.
#include "resolve/CheckState.h"
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell::fuzz {

// A broken invariant is a finding: print it and abort, which libFuzzer
// reports as a crash and saves the input for.
inline void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Whether `line` is the dotted text of four bytes as DottedText writes it:
// four decimals 0 to 255 without leading zeros.
inline bool IsDottedQuad(std::string_view line) {
    int parts = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(line[i] - '0');
            ++i, ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (digits > 1 && line[i - digits] == '0') return false;
        ++parts;
        if (i == line.size()) break;
        if (line[i] != '.' || parts == 4) return false;
        ++i;
        if (i == line.size()) return false;
    }
    return parts == 4;
}

// The report after ReadAnswers on a datagram of `size` bytes with
// `answerCount` announced: one CRLF-ended dotted line per counted address,
// no more addresses than announced or than fit in the bytes after the header
// and the shortest question (5 bytes; an A record takes at least 15), and
// IpMatch exactly when a line equals HostIP.
inline void CheckReport(const std::string& report, const CheckState& state, std::size_t size,
                        unsigned answerCount) {
    std::vector<std::string_view> lines;
    std::string_view rest(report);
    while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        Check(end != std::string_view::npos, "report line without CRLF");
        lines.push_back(rest.substr(0, end));
        rest.remove_prefix(end + 2);
    }
    Check(state.Answers >= 0 && static_cast<std::size_t>(state.Answers) == lines.size(),
          "Answers differs from the number of lines");
    Check(lines.size() <= answerCount, "more addresses than ANCOUNT");
    Check(lines.size() <= (size >= 17 ? (size - 17) / 15 : 0), "more addresses than fit in the datagram");
    bool match = false;
    for (auto line : lines) {
        Check(IsDottedQuad(line), "a line that is no dotted address");
        match = match || line == state.HostIP;
    }
    Check(match == state.IpMatch, "IpMatch differs from the lines");
}

// Reads a received datagram's answers as the query does, then checks the
// report: a malformed record ends the reading, the lines before it stay.
inline void ReadAndCheck(std::span<const std::uint8_t> datagram, std::uint16_t answerCount) {
    CheckState state;
    state.HostIP = "10.0.0.1";
    fakes::FakeTextBox report;
    try {
        ReadAnswers(datagram, kHeaderSize, answerCount, state, report);
    } catch (const Failure&) {
    }
    CheckReport(report.text, state, datagram.size(), answerCount);
}

}  // namespace tarnwell::fuzz
