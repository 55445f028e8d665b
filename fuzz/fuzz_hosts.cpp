// Any hosts file and name (the first byte is the name's length): at most kMaxShownLines lines, ascending, no more
// than the total nor the file has; each text and address UTF-8 without controls but TAB, in kMaxShownChars + "...";
// the same when the file comes in two pieces.
#include "common/Text.h"
#include "resolve/HostsFile.h"

#include <algorithm>
#include <cstdlib>

using namespace tarnwell;

static bool Printable(const std::string& s) {
    const std::u32string cs = text::Decode(s);
    const auto control = [](char32_t c) { return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F); };
    return text::ValidUtf8(s) && cs.size() <= hosts::kMaxShownChars + 3 && std::none_of(cs.begin(), cs.end(), control);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view name = input.substr(1, std::min<std::size_t>(data[0] & 0x7F, size - 1));
    const std::string_view file = input.substr(1 + name.size());
    const auto& syntax = (data[0] & 0x80) ? platform::kWindowsHosts : platform::kGlibcHosts;
    const hosts::Matches m = hosts::FindLines(file, name, syntax);
    hosts::Finder pieces(name, syntax);  // the same file in two pieces, split anywhere, finds the same
    pieces.Feed(file.substr(0, size % (file.size() + 1))), pieces.Feed(file.substr(size % (file.size() + 1)));
    if (pieces.End() != m) std::abort();
    const auto most = static_cast<std::size_t>(std::count(file.begin(), file.end(), '\n')) + 1;  // lines in the file
    if (m.lines.size() > hosts::kMaxShownLines || m.total < m.lines.size() || m.total > most) std::abort();
    for (std::size_t k = 0; k < m.lines.size(); ++k)
        if (m.lines[k].number <= (k ? m.lines[k - 1].number : 0) || m.lines[k].number > most ||
            !Printable(m.lines[k].text) || !Printable(m.lines[k].address))
            std::abort();
    return 0;
}
