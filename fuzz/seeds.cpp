// Writes the seed corpora of the fuzz targets from code: valid replies made
// with the test helpers (fakes::ReplyTo, fakes::ARecord), domain texts and
// server lists. Usage: fuzz_seeds DIR  (creates DIR/reader, DIR/reply,
// DIR/qname and DIR/servers).
#include "resolve/DNS_IP_READER.h"
#include "tests/fakes/Fakes.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace tarnwell;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

fs::path root;

void Write(const char* target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A name in labels, ending with a zero or with a pointer to `pointTo`.
Bytes Name(const std::string& dotted, int pointTo = -1) {
    Bytes out;
    std::size_t start = 0;
    while (start < dotted.size()) {
        auto dot = dotted.find('.', start);
        if (dot == std::string::npos) dot = dotted.size();
        out.push_back(static_cast<std::uint8_t>(dot - start));
        out.insert(out.end(), dotted.begin() + static_cast<long>(start), dotted.begin() + static_cast<long>(dot));
        start = dot + 1;
    }
    if (pointTo >= 0) {
        out.push_back(static_cast<std::uint8_t>(0xC0 | (pointTo >> 8)));
        out.push_back(static_cast<std::uint8_t>(pointTo));
    } else {
        out.push_back(0);
    }
    return out;
}

Bytes Record(Bytes owner, std::uint16_t type, std::uint16_t klass, const Bytes& data) {
    Bytes r = std::move(owner);
    const Bytes fixed = {std::uint8_t(type >> 8), std::uint8_t(type), std::uint8_t(klass >> 8), std::uint8_t(klass),
                         0, 0, 0x0E, 0x10, std::uint8_t(data.size() >> 8), std::uint8_t(data.size())};
    r.insert(r.end(), fixed.begin(), fixed.end());
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

// A seed of the whole acceptance: the domain's length and text, then the reply.
Bytes WithDomain(const std::string& domain, const Bytes& reply) {
    Bytes out{static_cast<std::uint8_t>(domain.size())};
    out.insert(out.end(), domain.begin(), domain.end());
    out.insert(out.end(), reply.begin(), reply.end());
    return out;
}

void Reply(const std::string& name, const std::string& domain, const Bytes& reply) {
    Write("reader", name, reply);
    Write("reply", name, WithDomain(domain, reply));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 64;
    }
    root = argv[1];

    const std::string domain = "example.com";
    const Bytes query = BuildQuery(domain);
    Reply("one-a", domain, fakes::ReplyTo(query, {fakes::ARecord({10, 0, 0, 1})}));
    Reply("two-a", domain, fakes::ReplyTo(query, {fakes::ARecord({93, 184, 216, 34}), fakes::ARecord({10, 0, 0, 1})}));
    Reply("no-answer", domain, fakes::ReplyTo(query, {}));

    // 126 A records: the most that fit in 2,048 bytes after this question.
    std::vector<Bytes> many;
    for (int i = 0; i < 126; ++i) many.push_back(fakes::ARecord({10, 1, std::uint8_t(i >> 8), std::uint8_t(i)}));
    const Bytes full = fakes::ReplyTo(query, many);
    if (full.size() > kReceiveCapacity) return 1;
    Reply("a126", domain, full);

    // A CNAME chain: example.com -> www.example.net -> edge.cdn.example.org,
    // then two A records owned by the chain's end (compressed owner names).
    Bytes chain = fakes::ReplyTo(query, {});
    const std::size_t first = chain.size();
    Bytes r1 = Record({0xC0, 0x0C}, 5, 1, Name("www.example.net"));
    const std::size_t target1 = first + 12;  // where www.example.net starts
    Bytes r2 = Record({0xC0, std::uint8_t(target1)}, 5, 1, Name("edge.cdn.example.org"));
    const std::size_t target2 = first + r1.size() + 2 + 10;
    for (const Bytes& r : {r1, r2}) chain.insert(chain.end(), r.begin(), r.end());
    for (std::uint8_t last : {7, 8}) {
        const Bytes a = Record({0xC0, std::uint8_t(target2)}, 1, 1, {192, 0, 2, last});
        chain.insert(chain.end(), a.begin(), a.end());
    }
    chain[7] = 4;
    Reply("cname-chain", domain, chain);

    // Uncompressed owners, an AAAA record, another class, a truncated reply.
    Bytes mixed = fakes::ReplyTo(query, {Record(Name("example.com"), 28, 1, Bytes(16, 0x20)),
                                         Record(Name("example.com"), 1, 3, {1, 2, 3, 4}),
                                         Record(Name("example.com"), 1, 1, {10, 0, 0, 1})});
    Reply("mixed", domain, mixed);
    Bytes truncated = fakes::ReplyTo(query, {fakes::ARecord({10, 0, 0, 1}), fakes::ARecord({10, 0, 0, 2})});
    truncated[2] |= 0x02;  // TC
    truncated[7] = 5;      // more announced than sent
    Reply("truncated", domain, truncated);
    Bytes nxdomain(query.begin(), query.begin() + 12);
    nxdomain[2] = 0x81, nxdomain[3] = 0x83, nxdomain[5] = 0;
    Reply("error-header", domain, nxdomain);

    const std::string idn = "пример.рф";
    Reply("idn", idn, fakes::ReplyTo(BuildQuery(idn), {fakes::ARecord({10, 0, 0, 1})}));

    const std::string texts[] = {
        "example.com", "пример.рф", "Кто.Example.", "a..b.", ".", "", "  spaced name .com ",
        std::string(63, 'x') + "." + std::string(64, 'y') + "." + std::string(255, 'z'),
        std::string(300, 'l') + ".com", "\xff\xfe\xc3(\xe2\x82\xf0\x9f\x98.\xed\xa0\x80", "ex\x01\x7f\tample.com",
        "a例€.xn--p1ai", "xn--e1afmkfd.xn--p1ai"};
    // Past the message buffer's last position (4000).
    std::string past;
    for (int i = 0; i < 41; ++i) past += std::string(99, 'e') + ".";
    int n = 0;
    for (const auto& t : texts) Write("qname", "text" + std::to_string(n++), Text(t));
    Write("qname", "past-buffer", Text(past));

    auto fields = [](std::uint8_t flags, std::initializer_list<std::string_view> entries) {
        Bytes out{flags};
        for (auto e : entries) {
            std::string field(e.substr(0, 16));
            field.resize(16, '\0');
            out.insert(out.end(), field.begin(), field.end());
        }
        return out;
    };
    using namespace std::string_view_literals;
    Write("servers", "one", fields(0, {"10.0.0.1"}));
    Write("servers", "two", fields(0, {"10.0.0.1", "192.168.100.200"}));
    Write("servers", "blanks", fields(0, {"1.2.3.4 5.6.7.8\0"sv, "  10.0.0.1 \0 junk"sv}));
    Write("servers", "full-field", fields(0, {"123.123.123.1234"}));
    Write("servers", "empty-first", fields(0, {"", "10.0.0.2", "\xcf\xf0\xe8"}));
    Write("servers", "missing", fields(1, {"10.0.0.1"}));
    Write("servers", "other-code", fields(2, {"10.0.0.1"}));
    return 0;
}
