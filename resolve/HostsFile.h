#pragma once
#include "platform/Files.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The hosts file's text: which of its lines map a name. A pure function over
// the file's bytes, apart from reading the file.
namespace tarnwell::hosts {

inline constexpr std::size_t kMaxShownLines = 20;
inline constexpr std::size_t kMaxShownChars = 200;
inline constexpr std::size_t kMaxFileBytes = 64u << 20;  // larger files are not read

// One line of the file that maps the name.
struct Line {
    std::size_t number = 0;  // 1-based
    std::string text;        // as shown: comment and trailing blanks cut, made safe
    std::string address;     // its first field, as written
    bool blocking = false;   // the address is 0.0.0.0, ::, 127.0.0.0/8 or ::1
    bool operator==(const Line&) const = default;
};

struct Matches {
    std::vector<Line> lines;  // the first kMaxShownLines, in file order
    std::size_t total = 0;    // all lines that map the name
    bool operator==(const Matches&) const = default;
};

// The lines of `file` one of whose names after the address equals `name`
// without regard to ASCII case.
Matches FindLines(std::string_view file, std::string_view name, const platform::HostsSyntax& syntax);

}  // namespace tarnwell::hosts
