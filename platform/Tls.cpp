#include "platform/Tls.h"

#include <algorithm>

namespace tarnwell::platform {

std::string TunnelRequest(ProxyScheme scheme, std::string_view name, bool next) {
    const std::string port{char(kHttpsPort >> 8), char(kHttpsPort & 0xff)};
    switch (scheme) {
        case ProxyScheme::Socks5:
            if (name.size() > 255) return {};
            if (!next) return std::string("\x05\x01\x00", 3);
            return std::string("\x05\x01\x00\x03", 4) + char(name.size()) + std::string(name) + port;
        case ProxyScheme::Socks4:  // the address 0.0.0.1 says the name follows the user ID
            return std::string("\x04\x01", 2) + port + std::string("\0\0\0\x01\0", 5) + std::string(name) + '\0';
        case ProxyScheme::Http:
        case ProxyScheme::Https:
            return "CONNECT " + std::string(name) + ":443 HTTP/1.1\r\nHost: " + std::string(name) +
                   ":443\r\nProxy-Connection: keep-alive\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
        case ProxyScheme::Direct: break;
    }
    return {};
}

TunnelReply ReadTunnelReply(ProxyScheme scheme, std::string_view in, bool next) {
    using Step = TunnelReply::Step;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
    const auto whole = [&](std::size_t length, Step made) {
        return in.size() < length ? TunnelReply{} : TunnelReply{made, length};
    };
    switch (scheme) {
        case ProxyScheme::Socks4:  // VN 0, CD 90 (granted), a port and an address
            if (in.size() >= 2 && (byte(0) != 0 || byte(1) != 0x5a)) return {Step::Refused};
            return whole(8, Step::Made);
        case ProxyScheme::Socks5:
            if (in.size() < 2) return {};
            if (!next) {  // the method chosen: none (0); "no acceptable methods" means it wants authentication
                if (byte(0) == 5 && byte(1) == 0xff) return {Step::ProxyAuth};
                return byte(0) == 5 && byte(1) == 0 ? TunnelReply{Step::Next, 2} : TunnelReply{Step::Refused};
            }
            // VER, REP succeeded, RSV, then the bound address by its ATYP and a port.
            if (byte(0) != 5 || byte(1) != 0 || (in.size() > 2 && byte(2) != 0)) return {Step::Refused};
            if (in.size() < 5) return {};
            if (byte(3) != 1 && byte(3) != 3 && byte(3) != 4) return {Step::Refused};
            return whole(4 + (byte(3) == 1 ? 4 : byte(3) == 4 ? 16 : 1 + byte(4)) + 2, Step::Made);
        case ProxyScheme::Http:
        case ProxyScheme::Https: {
            const auto end = in.find("\r\n\r\n");
            if (end == std::string_view::npos) return {in.size() > kMaxProxyHead ? Step::Refused : Step::More};
            // "HTTP/1.1 200 Connection established" (RFC 9112 section 4): any
            // 2xx makes the tunnel; a refusal may come with a body.
            const std::string_view line = in.substr(0, in.find("\r\n"));
            if (line.size() < 12 || !line.starts_with("HTTP/1.") || line[8] != ' ' ||
                !std::all_of(line.begin() + 9, line.begin() + 12, [](char c) { return c >= '0' && c <= '9'; }) ||
                (line.size() > 12 && line[12] != ' '))
                return {Step::Refused};
            if (line.substr(9, 3) == "407") return {Step::ProxyAuth};
            return line[9] == '2' ? TunnelReply{Step::Made, end + 4} : TunnelReply{Step::Refused};
        }
        case ProxyScheme::Direct: break;
    }
    return {Step::Refused};
}

IssuerFetch FetchEnded(GetEnd get, bool certificates) {
    switch (get) {
        case GetEnd::Reply: return certificates ? IssuerFetch::Fetched : IssuerFetch::Junk;
        case GetEnd::Timeout: return IssuerFetch::Timeout;
        case GetEnd::Unreachable: return IssuerFetch::Unreachable;
        case GetEnd::Refused: break;
    }
    return IssuerFetch::HttpError;
}

Proof Judge(const CertificateFacts& facts) {
    if (!facts.certificate)
        return facts.handshake == HandshakeEnd::Complete   ? Failed(ProofReason::Error)  // a handshake without one
               : facts.handshake == HandshakeEnd::TimedOut ? Unknown(ProofReason::Timeout)
                                                           : Unknown(ProofReason::NotTls);
    if (facts.chain == ChainEnd::Untrusted) return Failed(ProofReason::Untrusted);
    if (facts.chain == ChainEnd::TooDeep || facts.chain == ChainEnd::Error) return Failed(ProofReason::Error);
    if (!facts.named) return Failed(ProofReason::Name);
    if (!facts.dated) return Failed(ProofReason::Expired);
    if (facts.chain == ChainEnd::IssuerMissing)
        return facts.fetch == IssuerFetch::Timeout || facts.fetch == IssuerFetch::Unreachable
                   ? Unknown(ProofReason::Incomplete)
                   : Failed(ProofReason::Incomplete);
    return facts.handshake == HandshakeEnd::Complete ? kProven : Unknown(ProofReason::Aborted);
}

}  // namespace tarnwell::platform
