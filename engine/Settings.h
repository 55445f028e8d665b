#pragma once
#include "platform/Files.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The settings: the witnesses, independent DNS servers asked over HTTPS
// (RFC 8484) when a site cannot prove its name, and whether the browser's
// auto-config file is fetched and run; read from small files of
// "key = value" lines.
namespace tarnwell {

struct Witness {
    std::string url;   // https://HOST[:PORT]/PATH, as given
    std::string host;  // HOST as written, an IPv6 address without its brackets
    bool operator==(const Witness&) const = default;
};

// The witnesses asked when no setting names any: public resolvers of two
// operators, each documented by its operator as serving DoH at that
// address.
inline constexpr std::string_view kDefaultWitnesses[] = {"https://1.1.1.1/dns-query", "https://8.8.8.8/dns-query"};

// A witness's URL: https, a host (an IP address or a host name), an
// optional port, no user information; or why it is none. An http URL is
// refused: a witness is worth only what its certificate proves.
std::variant<Witness, std::string> ParseWitness(std::string_view url);

// What settings say of the witnesses: these, none at all (off), or nothing.
using WitnessSetting = std::optional<std::vector<Witness>>;

// What one settings file sets; nothing of what it leaves unset.
struct FileSettings {
    WitnessSetting witness;
    std::optional<bool> proxy;  // proxy = auto (true) or off (false)
};

// A settings file: UTF-8 (of at most 64 KiB) with an optional byte order mark, LF or CRLF,
// blank lines, "#" comments and "key = value" lines. The keys are
// "witness", its value "off" or URLs apart by blanks, and "proxy", "auto"
// or "off". What the file sets, or "PATH:LINE: what is wrong" (an unknown
// key is wrong: a typo is not silently ignored).
std::variant<FileSettings, std::string> ReadSettings(std::string_view bytes, std::string_view path);

// What the settings files choose, the defaults for what none sets.
struct Choices {
    std::vector<Witness> witnesses;
    bool proxy = true;
};

// The settings files read in order, a later one overriding an earlier; or
// the first fault found: a file that cannot be read is one ("PATH: cannot
// be read (why)"), a missing one not.
std::variant<Choices, std::string> LoadSettings(platform::Files& files);

std::vector<Witness> DefaultWitnesses();

}  // namespace tarnwell
