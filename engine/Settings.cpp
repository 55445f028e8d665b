#include "engine/Settings.h"

#include "common/Address.h"
#include "common/Text.h"

#include <algorithm>
#include <cctype>

namespace tarnwell {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

std::string_view Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// A host name of letters, digits, hyphens and dots (RFC 1123 section 2.1).
bool IsHostName(std::string_view host) {
    if (host.empty() || host.front() == '.' || host.front() == '-' || host.find("..") != std::string_view::npos)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    });
}

bool IsPort(std::string_view port) {
    if (port.empty() || port.size() > 5 || port.front() == '0') return false;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    return std::stoi(std::string(port)) <= 65535;
}

std::string Why(platform::ReadFault fault) {
    switch (fault) {
        case platform::ReadFault::Denied: return "permission denied";
        case platform::ReadFault::Directory: return "it is a directory";
        case platform::ReadFault::TooLarge: return "larger than " + std::to_string(kMaxSettingsBytes / 1024) + " KiB";
        default: return "read error";
    }
}

}  // namespace

std::variant<Witness, std::string> ParseWitness(std::string_view url) {
    std::string quoted(1, '\'');  // piece by piece: GCC 12 takes "'" + std::string for an overlap (-Wrestrict)
    quoted.append(url).push_back('\'');
    if (text::StartsWithNoCase(url, "http://"))
        return "a witness must be asked over https, not http: " + quoted;
    if (!text::StartsWithNoCase(url, "https://")) return "not an https URL: " + quoted;
    const std::string_view rest = url.substr(8);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    std::string_view host = authority, port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return "no host in " + quoted;
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return "no host in " + quoted;
            port = authority.substr(close + 2);
        }
        if (!Address::Parse(host) || Address::Parse(host)->IsV4()) return "no host in " + quoted;
    } else if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (!authority.starts_with('[') && !IsHostName(host)) return "no host in " + quoted;
    if (authority.find(':') != std::string_view::npos && !IsPort(port)) return "no port in " + quoted;
    return Witness{std::string(url), std::string(host)};
}

std::variant<FileSettings, std::string> ReadSettings(std::string_view bytes, std::string_view path) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    FileSettings settings;
    std::size_t number = 0;
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        ++number;
        if (line.ends_with('\r')) line.remove_suffix(1);
        line = Trimmed(line);
        const auto fault = [&](const std::string& what) {
            return std::string(path) + ":" + std::to_string(number) + ": " + what;
        };
        if (!text::ValidUtf8(line)) return fault("not UTF-8 text");
        if (line.empty() || line.starts_with('#')) continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) return fault("not a \"key = value\" line");
        const std::string_view key = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
        if (key == "proxy") {
            if (value != "auto" && value != "off") return fault("proxy needs auto or off");
            settings.proxy = value == "auto";
            continue;
        }
        if (key != "witness") return fault("unknown key '" + std::string(key) + "' (the keys are witness and proxy)");
        if (value.empty()) return fault("witness needs off or one URL or more");
        std::vector<Witness> witnesses;
        if (value != "off") {
            for (std::size_t at = 0; at < value.size();) {
                const auto next = std::min(value.find_first_of(kBlanks, at), value.size());
                auto parsed = ParseWitness(value.substr(at, next - at));
                if (auto* why = std::get_if<std::string>(&parsed)) return fault(*why);
                witnesses.push_back(std::get<Witness>(std::move(parsed)));
                at = std::min(value.find_first_not_of(kBlanks, next), value.size());
            }
        }
        settings.witness = std::move(witnesses);
    }
    return settings;
}

std::vector<Witness> DefaultWitnesses() {
    std::vector<Witness> witnesses;
    for (const auto url : kDefaultWitnesses) witnesses.push_back(std::get<Witness>(ParseWitness(url)));
    return witnesses;
}

std::variant<Choices, std::string> LoadSettings(platform::Files& files) {
    using platform::ReadFault;
    FileSettings chosen;
    for (const auto& path : files.SettingsPaths()) {
        const auto bytes = files.Read(path, kMaxSettingsBytes);
        if (const auto* fault = std::get_if<ReadFault>(&bytes)) {
            if (*fault == ReadFault::Missing) continue;  // nothing set there
            // Any other: what it sets is not known, so nothing may be guessed.
            return path + ": cannot be read (" + Why(*fault) + ")";
        }
        auto read = ReadSettings(std::get<std::string>(bytes), path);
        if (auto* fault = std::get_if<std::string>(&read)) return *fault;
        auto& set = std::get<FileSettings>(read);
        if (set.witness) chosen.witness = std::move(set.witness);
        if (set.proxy) chosen.proxy = set.proxy;
    }
    return Choices{chosen.witness ? std::move(*chosen.witness) : DefaultWitnesses(), chosen.proxy.value_or(true)};
}

}  // namespace tarnwell
