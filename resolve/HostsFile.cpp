#include "resolve/HostsFile.h"

#include "common/Address.h"
#include "common/Text.h"

// The hosts file as the resolvers read it (hosts(5); the Windows file has
// the same form): one mapping a line, the address first, then the canonical
// name and its aliases, fields apart by the resolver's blanks, "#" to the
// line's end a comment. One pass over the octets as they come, each looked
// at once; a comment is passed over to its LF.
namespace tarnwell::hosts {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Enough of a line to show it: any kMaxShownChars + 1 characters.
constexpr std::size_t kKeptOctets = 4 * (kMaxShownChars + 1);

// Appends to `kept` what fits in `most` octets; whether all of it did.
bool Keep(std::string& kept, std::string_view more, std::size_t most) {
    const std::size_t room = most - kept.size();
    kept.append(more.substr(0, room));
    return more.size() <= room;
}

constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view WithoutFinalDot(std::string_view s) {
    return !s.empty() && s.back() == '.' ? s.substr(0, s.size() - 1) : s;
}

// `wanted` is already lower-case and without its final dot.
bool SameName(std::string_view field, std::string_view wanted) {
    field = WithoutFinalDot(field);
    if (field.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < field.size(); ++i)
        if (Lower(field[i]) != wanted[i]) return false;
    return true;
}

// The text as it may be printed: every control character and every byte
// that is not part of well-formed UTF-8 becomes "?"; after kMaxShownChars
// characters the rest becomes "...".
std::string Safe(std::string_view s) { return text::Clean(s, {.maxChars = kMaxShownChars}); }

// 0.0.0.0, 127.0.0.0/8, :: and ::1: the name is kept from the network (an
// ad or malware blocker), not sent elsewhere.
bool Blocking(std::string_view address) {
    const auto parsed = Address::Parse(address);
    return parsed && (parsed->IsLoopback() || parsed->IsUnspecified());
}

}  // namespace

Finder::Finder(std::string_view name, const platform::HostsSyntax& syntax)
    : crIsBlank_(syntax.blanks.find('\r') != std::string_view::npos), wanted_(WithoutFinalDot(name)) {
    for (const char c : syntax.blanks) kinds_[static_cast<unsigned char>(c)] = kBlank;
    for (const char c : {'\n', '\r', '#'}) kinds_[static_cast<unsigned char>(c)] = kEnds;
    if (syntax.nulEndsLine) kinds_[0] = kEnds;
    for (char& c : wanted_) c = Lower(c);
}

// Notepad begins a UTF-8 file with a byte order mark: the file's first
// octets are held while they may be one, then dropped or read.
void Finder::Feed(std::string_view bytes) {
    for (; head_ < kByteOrderMark.size() && !bytes.empty() && bytes.front() == kByteOrderMark[head_]; ++head_)
        bytes.remove_prefix(1);
    if (head_ < kByteOrderMark.size() && !bytes.empty()) ReadHeld();
    Scan(bytes);
}

void Finder::ReadHeld() {
    const std::size_t held = head_;
    head_ = kByteOrderMark.size();
    Scan(kByteOrderMark.substr(0, held));
}

Matches Finder::End() {
    if (head_ < kByteOrderMark.size()) ReadHeld();
    cr_ = false;  // a CR ending the file: a CR LF file whose last LF was lost
    EndLine();
    return std::move(found_);
}

// Runs of the line's text between the octets that end it (LF, a CR before
// LF, "#", NUL where it ends the line), each run taken whole.
void Finder::Scan(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        if (skipping_) {
            if ((i = bytes.find('\n', i)) == std::string_view::npos) return;
            EndLine();
            ++i;
            continue;
        }
        if (cr_) {
            cr_ = false;
            if (bytes[i] == '\n') {
                EndLine();
                ++i;
                continue;
            }
            // A CR not before LF: one of the line's octets, a blank where the platform's are.
            Keep(text_, "\r", kKeptOctets);
            ++length_;
            if (crIsBlank_) EndField();
            else Field("\r"), shown_ = length_;
        }
        const std::size_t end = i + Text(bytes.substr(i));
        if (end == bytes.size()) return;
        const char c = bytes[end];
        i = end + 1;
        if (c == '\n') {
            EndLine();
        } else if (c == '\r') {
            cr_ = true;  // a CR LF ends the line as LF does
        } else {
            EndField();  // "#" or NUL: the text ends
            skipping_ = true;
        }
    }
}

// The line's text at the start of `bytes`, up to an octet that ends it: its
// fields and the blanks between them. How many octets it has.
std::size_t Finder::Text(std::string_view bytes) {
    const auto kind = [&](std::size_t i) { return kinds_[static_cast<unsigned char>(bytes[i])]; };
    std::size_t i = 0;
    while (i < bytes.size() && kind(i) != kEnds) {
        if (kind(i) == kBlank) {
            EndField();
            ++i;
            continue;
        }
        const std::size_t from = i;
        while (i < bytes.size() && kind(i) == kField) ++i;
        Field(bytes.substr(from, i - from));
        shown_ = length_ + i;
    }
    Keep(text_, bytes.substr(0, i), kKeptOctets);
    length_ += i;
    return i;
}

// A field, or the part of it in this piece of the file: of the address as
// much as may be shown, of a name one octet more than the name looked for.
void Finder::Field(std::string_view part) {
    inField_ = true;
    if (fields_ == 0) addressCut_ |= !Keep(address_, part, kKeptOctets);
    else if (!maps_) fieldLong_ |= !Keep(field_, part, wanted_.size() + 1);
}

void Finder::EndField() {
    if (!inField_) return;
    if (fields_++ > 0 && !maps_ && !fieldLong_ && !wanted_.empty()) maps_ = SameName(field_, wanted_);
    inField_ = fieldLong_ = false;
    field_.clear();
}

void Finder::EndLine() {
    EndField();
    ++number_;
    if (maps_) {
        const auto parsed = addressCut_ ? std::nullopt : Address::Parse(address_, true);
        if (parsed && seen_.insert(*parsed).second) found_.addresses.push_back(*parsed);
        if (found_.total++ < kMaxShownLines)
            found_.lines.push_back({number_, Safe(std::string_view(text_).substr(0, shown_)), Safe(address_),
                                    !addressCut_ && Blocking(address_)});
    }
    text_.clear();
    address_.clear();
    length_ = shown_ = fields_ = 0;
    skipping_ = addressCut_ = maps_ = false;
}

Matches FindLines(std::string_view file, std::string_view name, const platform::HostsSyntax& syntax) {
    Finder finder(name, syntax);
    finder.Feed(file);
    return finder.End();
}

}  // namespace tarnwell::hosts
