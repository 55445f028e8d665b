#include "platform/win32/WinTls.h"

#include "platform/win32/WinSockets.h"

#define SECURITY_WIN32
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include <windows.h>
#include <subauth.h>  // UNICODE_STRING, for SCH_CREDENTIALS
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <vector>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;


// TLS record content types (RFC 8446 section 5.1).
constexpr char kAlert = 21;
constexpr char kHandshake = 22;

constexpr DWORD kMaxIntermediates = 8;

// A handshake larger than this (a long chain included) is no server's.
constexpr std::size_t kMaxHandshake = 1024 * 1024;

DWORD MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// Waits until the socket is readable (or, with `write`, writable or failed to
// connect) by the deadline: whether it is.
bool WaitFor(SOCKET s, bool write, Clock::time_point deadline) {
    const DWORD left = MillisecondsLeft(deadline);
    if (!left) return false;
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    return select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &limit) > 0;
}

// Closes a socket on every way out.
struct SocketCloser {
    SOCKET s;
    ~SocketCloser() {
        if (s != INVALID_SOCKET) closesocket(s);
    }
};

// A non-blocking TCP connection to the peer by the deadline, or the reason
// there is none.
SOCKET Connected(const Address& address, std::uint16_t port, Clock::time_point deadline, Proof& failure) {
    failure = Unknown(ProofReason::Refused);
    sockaddr_storage to;
    const int length = ToSockaddr(address, port, to);
    if (!length) return INVALID_SOCKET;
    SocketCloser owned{socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP)};
    const SOCKET s = owned.s;
    if (s == INVALID_SOCKET) return s;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        bool connected = connect(s, reinterpret_cast<const sockaddr*>(&to), length) == 0;
        if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (WaitFor(s, true, deadline)) {
                int error = 0;
                int size = sizeof error;
                connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && !error;
            } else {
                failure = Unknown(ProofReason::Timeout);  // no answer by the deadline
            }
        }
        if (connected) owned.s = INVALID_SOCKET;  // the caller's now
        if (connected) return s;
    }
    return INVALID_SOCKET;
}

// Sends all of `data` by the deadline.
bool SendAll(SOCKET s, const char* data, int length, Clock::time_point deadline) {
    while (length > 0) {
        const int n = send(s, data, length, 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(s, true, deadline)) return false;
            continue;
        }
        data += n;
        length -= n;
    }
    return true;
}

// The certificate's fault, as the SSL policy of CryptoAPI reports it (it
// looks at the chain's trust and dates before the name).
Proof Judged(DWORD policyError) {
    switch (policyError) {
        case ERROR_SUCCESS:
            return kProven;
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return Failed(ProofReason::Name);
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return Failed(ProofReason::Expired);
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
            return Failed(ProofReason::Untrusted);
        default:
            return Failed(ProofReason::Error);
    }
}

// The peer's certificate verified as a browser on Windows does: the chain to
// a root of the system's store, with the certificates the peer sent, for
// server authentication, then the SSL policy for the name. Nothing is fetched
// for the peer: no revocation check, and no issuer from its AIA address.
Proof Verified(PCCERT_CONTEXT certificate, const std::wstring& name, Clock::time_point deadline) {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(std::size(usages));
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // The system's own retrieval (its roots brought up to date) within the
    // time that is left.
    chainPara.dwUrlRetrievalTimeout = std::max<DWORD>(MillisecondsLeft(deadline), 1);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara,
                                 CERT_CHAIN_DISABLE_AIA, nullptr, &chain))
        return Failed(ProofReason::Error);
    // The chain's own trust first, as curl reads it: Wine's SSL policy
    // passes a chain that ends at an issuer it could not find. Nesting of
    // the dates does not count (Windows ignores it), nor revocation, which
    // is not asked.
    const DWORD chainErrors = chain->TrustStatus.dwErrorStatus &
                              ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (chainErrors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        CertFreeCertificateChain(chain);
        return Failed(ProofReason::Untrusted);
    }
    // At most 8 intermediate CAs between the site and the root, as on Linux
    // (and as mozilla::pkix allows): a longer chain proves nothing.
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement > kMaxIntermediates + 2) {
        CertFreeCertificateChain(chain);
        return Failed(ProofReason::Error);
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(name.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    const BOOL checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
    CertFreeCertificateChain(chain);
    if (!checked) return Failed(ProofReason::Error);
    if (status.dwError != ERROR_SUCCESS) return Judged(status.dwError);
    if (chainErrors & CERT_TRUST_IS_NOT_TIME_VALID) return Failed(ProofReason::Expired);
    return chainErrors ? Failed(ProofReason::Error) : kProven;
}

// One handshake on a connected socket: its result once the peer's
// certificate is verified, or why there is none.
class Handshake {
public:
    Handshake(SOCKET s, const std::string& name, Clock::time_point deadline)
        : socket_(s), name_(name.begin(), name.end()), deadline_(deadline) {}

    ~Handshake() {
        if (haveContext_) DeleteSecurityContext(&context_);
        if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    }

    Proof Run() {
        // The certificate is judged here, not by SChannel, and no
        // certificate of ours is offered. SCH_CREDENTIALS (Windows 10 1809
        // on) brings the system's protocols, TLS 1.3 included;
        // SCHANNEL_CRED stops at TLS 1.2 and serves older systems.
        // TLS 1.2 at least, as the browsers ask.
        constexpr DWORD kFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols =
            SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
        SCH_CREDENTIALS current{};
        current.dwVersion = SCH_CREDENTIALS_VERSION;
        current.dwFlags = kFlags;
        current.cTlsParameters = 1;
        current.pTlsParameters = &parameters;
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = kFlags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        for (void* cred : {static_cast<void*>(&current), static_cast<void*>(&older)}) {
            haveCredentials_ =
                AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                          cred, nullptr, nullptr, &credentials_, nullptr) == SEC_E_OK;
            if (haveCredentials_) break;
        }
        if (!haveCredentials_) return Unknown(ProofReason::NotTls);

        std::vector<char> in;  // the peer's bytes not yet taken by SChannel
        SECURITY_STATUS state = Step(nullptr);
        bool askedForCertificate = false;
        for (;;) {
            if (state == SEC_E_OK) break;
            if (!MillisecondsLeft(deadline_)) return Unknown(ProofReason::Timeout);
            if (state == SEC_I_INCOMPLETE_CREDENTIALS && !askedForCertificate) {
                // The peer asks for a certificate of ours: go on without one.
                askedForCertificate = true;
                state = Step(&in);
                continue;
            }
            if (sendFailed_) return Unknown(ProofReason::NotTls);  // reset while we sent
            if (state != SEC_I_CONTINUE_NEEDED && state != SEC_E_INCOMPLETE_MESSAGE)
                return Unknown(ProofReason::NotTls);  // not TLS, or the peer gave up
            if (state == SEC_I_CONTINUE_NEEDED && !in.empty()) {
                state = Step(&in);  // a record of the peer's is still to be taken
                if (state != SEC_E_INCOMPLETE_MESSAGE) continue;
            }
            if (!WaitFor(socket_, false, deadline_)) return Unknown(ProofReason::Timeout);
            char chunk[16 * 1024];
            const int n = recv(socket_, chunk, sizeof chunk, 0);
            if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
            if (n <= 0) return Unknown(ProofReason::NotTls);  // closed, or reset
            // A TLS server's first record is a handshake or an alert (RFC
            // 8446 section 5.1); SChannel may wait for more of anything else.
            if (!answered_ && chunk[0] != kHandshake && chunk[0] != kAlert) return Unknown(ProofReason::NotTls);
            answered_ = true;
            if (in.size() + static_cast<std::size_t>(n) > kMaxHandshake) return Unknown(ProofReason::NotTls);
            in.insert(in.end(), chunk, chunk + n);
            state = Step(&in);
        }
        PCCERT_CONTEXT certificate = nullptr;
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
            !certificate)
            return Failed(ProofReason::Error);
        const Proof proof = Verified(certificate, name_, deadline_);
        CertFreeCertificateContext(certificate);
        return proof;
    }

private:
    // One call of InitializeSecurityContext with the peer's bytes (none at
    // the start); sends what it gives and keeps in `in` what it left.
    SECURITY_STATUS Step(std::vector<char>* in) {
        const bool first = !haveContext_;
        SecBuffer inBuffers[2]{};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        if (in) {
            inBuffers[0] = {static_cast<unsigned long>(in->size()), SECBUFFER_TOKEN, in->data()};
            inBuffers[1] = {0, SECBUFFER_EMPTY, nullptr};
        }
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        const unsigned long wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                     ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
        unsigned long got = 0;
        const SECURITY_STATUS state = InitializeSecurityContextW(
            &credentials_, first ? nullptr : &context_, const_cast<wchar_t*>(name_.c_str()),
            wanted, 0, 0, in ? &inDesc : nullptr, 0, first ? &context_ : nullptr, &outDesc, &got, nullptr);
        if (first && (state == SEC_E_OK || state == SEC_I_CONTINUE_NEEDED || state == SEC_I_INCOMPLETE_CREDENTIALS))
            haveContext_ = true;
        if (outBuffer.pvBuffer) {
            if (outBuffer.cbBuffer &&
                !SendAll(socket_, static_cast<const char*>(outBuffer.pvBuffer), static_cast<int>(outBuffer.cbBuffer),
                         deadline_))
                sendFailed_ = true;
            FreeContextBuffer(outBuffer.pvBuffer);
        }
        if (sendFailed_) return SEC_E_INTERNAL_ERROR;
        if (in && state != SEC_E_INCOMPLETE_MESSAGE && state != SEC_I_INCOMPLETE_CREDENTIALS) {
            // What SChannel did not take stays for the next call.
            if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer <= in->size())
                in->erase(in->begin(), in->end() - inBuffers[1].cbBuffer);
            else
                in->clear();
        }
        return state;
    }

    SOCKET socket_;
    std::wstring name_;  // the ACE name: ASCII
    Clock::time_point deadline_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    bool sendFailed_ = false;
    bool answered_ = false;  // the peer has sent its first bytes  // the peer took not all we had to send by the deadline
};

}  // namespace

Proof WinTls::Probe(const Address& address, const std::string& name, Clock::time_point deadline,
                    std::uint16_t port) {
    Proof failure;
    const SocketCloser s{Connected(address, port, deadline, failure)};
    if (s.s == INVALID_SOCKET) return failure;
    return Handshake(s.s, name, deadline).Run();
}

}  // namespace tarnwell::platform
