#pragma once
#include "common/Address.h"
#include "platform/Files.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The hosts file's text: which of its lines map a name. Pure code over the
// file's bytes, fed in pieces as they are read, so that a file of any size
// is read whole in little memory.
namespace tarnwell::hosts {

inline constexpr std::size_t kMaxShownLines = 20;
inline constexpr std::size_t kMaxShownChars = 200;

// One line of the file that maps the name.
struct Line {
    std::size_t number = 0;  // 1-based
    std::string text;        // as shown: comment and trailing blanks cut, made safe
    std::string address;     // its first field, as written, made safe
    bool blocking = false;   // the address is 0.0.0.0, ::, 127.0.0.0/8 or ::1
    bool operator==(const Line&) const = default;
};

struct Matches {
    std::vector<Line> lines;  // the first kMaxShownLines, in file order
    std::size_t total = 0;    // all lines that map the name
    // The address of every line that maps the name (one that is no IP
    // address left out), each once, in file order.
    std::vector<Address> addresses = {};
    bool operator==(const Matches&) const = default;
};

// Finds the lines one of whose names after the address equals `name`
// without regard to ASCII case, in the file's bytes fed in order in pieces
// of any size. Of a line it keeps no more than it may show.
class Finder {
public:
    Finder(std::string_view name, const platform::HostsSyntax& syntax);
    void Feed(std::string_view bytes);
    Matches End();  // after the file's last piece

private:
    void ReadHeld();
    void Scan(std::string_view bytes);
    std::size_t Text(std::string_view bytes);
    void Field(std::string_view part);
    void EndField();
    void EndLine();

    // What each octet is, a table: it is looked up for every octet of the file.
    enum Kind : std::uint8_t { kField, kBlank, kEnds };  // kEnds: LF, CR (before LF), "#", NUL (glibc)
    std::array<Kind, 256> kinds_{};
    bool crIsBlank_;
    std::string wanted_;             // lower-case, without its final dot
    Matches found_;
    std::set<Address> seen_;
    std::size_t head_ = 0;      // octets of the file seen while they may be a byte order mark
    std::size_t number_ = 0;    // lines ended
    bool cr_ = false;           // a CR held back: with LF after it, it ends the line
    bool skipping_ = false;     // in a comment, or after a NUL that ends the text
    std::string text_;          // the line's first octets, up to a comment
    std::size_t length_ = 0;    // octets of the line up to a comment
    std::size_t shown_ = 0;     // of them up to the last one that is no blank
    std::string address_;       // the first field's first octets
    bool addressCut_ = false;   // ... and it is longer
    std::string field_;         // a later field's first octets, one more than the name has
    bool fieldLong_ = false;    // ... and it is longer
    std::size_t fields_ = 0;    // fields ended on the line
    bool inField_ = false;
    bool maps_ = false;
};

// The matching lines of a file read whole.
Matches FindLines(std::string_view file, std::string_view name, const platform::HostsSyntax& syntax);

}  // namespace tarnwell::hosts
