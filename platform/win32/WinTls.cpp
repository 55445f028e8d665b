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
#include <climits>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwell::platform {

namespace {

using Clock = std::chrono::steady_clock;


// TLS record content types (RFC 8446 section 5.1).
constexpr char kAlert = 21;
constexpr char kHandshake = 22;

constexpr DWORD kMaxIntermediates = 8;

// The most a caIssuers URL may give: a certificate or a few, with room.
constexpr std::size_t kMaxIssuerBytes = 64 * 1024;

// A handshake larger than this (a long chain included) is no server's.
constexpr std::size_t kMaxHandshake = 1024 * 1024;

DWORD MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h: the SSL policy leaves
// the name to Named.
constexpr DWORD kIgnoreName = 0x00001000;

// DER tags (X.690): a SEQUENCE, and the [2] IA5String of a dNSName in a
// GeneralName (RFC 5280 section 4.2.1.6).
constexpr BYTE kSequence = 0x30;
constexpr BYTE kDnsNameTag = 0x82;

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
template <class T>
using LocalOwned = std::unique_ptr<T, LocalFreer>;

struct ChainFreer {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using OwnedChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

// An encoded value as CryptoAPI decodes it, or nothing if it cannot.
template <class T>
LocalOwned<T> Decoded(LPCSTR type, const CRYPT_OBJID_BLOB& value) {
    T* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, value.pbData, value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &decoded, &size))
        return nullptr;
    return LocalOwned<T>(decoded);
}

const CERT_EXTENSION* Extension(PCCERT_CONTEXT certificate, LPCSTR oid) {
    return CertFindExtension(oid, certificate->pCertInfo->cExtension, certificate->pCertInfo->rgExtension);
}

// The header of the DER element at `p` (X.690 section 8.1.3): its tag, the
// length of its content and its own, or nothing if it runs past `size`.
struct Element {
    BYTE tag;
    DWORD header;
    DWORD length;
};
std::optional<Element> ElementAt(const BYTE* p, DWORD size) {
    if (size < 2) return std::nullopt;
    Element e{p[0], 2, p[1]};
    if (e.length & 0x80) {
        const DWORD octets = e.length & 0x7f;
        if (octets == 0 || octets > 3 || size < 2 + octets) return std::nullopt;
        e.length = 0;
        for (DWORD i = 0; i < octets; ++i) e.length = e.length << 8 | p[2 + i];
        e.header += octets;
    }
    if (e.length > size - e.header) return std::nullopt;
    return e;
}

// The lengths of the dNSName entries of a subjectAltName value, in order, as
// they are encoded: CryptoAPI gives each name as text that ends at its first
// NUL, and a name may hide one ("good.test\0.evil.test").
std::optional<std::vector<DWORD>> EncodedDnsLengths(const CRYPT_OBJID_BLOB& value) {
    const auto names = ElementAt(value.pbData, value.cbData);
    if (!names || names->tag != kSequence) return std::nullopt;
    std::vector<DWORD> lengths;
    const BYTE* p = value.pbData + names->header;
    for (DWORD left = names->length; left > 0;) {
        const auto entry = ElementAt(p, left);
        if (!entry) return std::nullopt;
        if (entry->tag == kDnsNameTag) lengths.push_back(entry->length);
        p += entry->header + entry->length;
        left -= entry->header + entry->length;
    }
    return lengths;
}

// Equal text, ASCII letters alike in either case and nothing else folded.
bool SameText(std::wstring_view presented, std::string_view reference) {
    const auto lower = [](unsigned c) { return c - 'A' < 26u ? c | 0x20u : c; };
    return presented.size() == reference.size() &&
           std::equal(presented.begin(), presented.end(), reference.begin(),
                      [&](wchar_t p, char r) { return lower(p) == lower(static_cast<unsigned char>(r)); });
}

// Whether a DNS name of the certificate stands for `name` (RFC 9525 section
// 6.3): the same name, or a wildcard that is the whole left-most label and
// stands for exactly one label, with two labels at least after it, as
// OpenSSL asks (never "*.test", "w*.example.test" or "*.*.example.test").
bool Matches(std::wstring_view presented, std::string_view name) {
    if (presented.size() < 2 || presented[0] != L'*' || presented[1] != L'.') return SameText(presented, name);
    const std::wstring_view parent = presented.substr(1);  // ".example.test"
    const std::size_t dot = name.find('.');
    return parent.find(L'.', 1) != std::wstring_view::npos && dot != 0 && dot != std::string_view::npos &&
           SameText(parent, name.substr(dot));
}

// Whether the certificate proves `name` (RFC 9525 section 6.3): by a DNS
// name of its subjectAltName only, never by the subject's common name nor an
// IP address entry, so a certificate without a DNS name proves none, nor one
// whose subjectAltName CryptoAPI cannot read (Wine's refuses a NUL in a
// name). A name that is an IP address (a proxy's host) is proven by an
// iPAddress entry only.
bool Named(PCCERT_CONTEXT certificate, const std::string& name) {
    const CERT_EXTENSION* san = Extension(certificate, szOID_SUBJECT_ALT_NAME2);
    const auto names = san ? Decoded<CERT_ALT_NAME_INFO>(X509_ALTERNATE_NAME, san->Value) : nullptr;
    if (const auto ip = Address::Parse(name); ip && names) {
        // A proxy named by its address: an iPAddress entry of the same
        // bytes (RFC 9525 section 6.2), as browsers take it.
        const auto bytes = ip->Bytes();
        for (DWORD i = 0; i < names->cAltEntry; ++i) {
            const CRYPT_DATA_BLOB& entry = names->rgAltEntry[i].IPAddress;
            if (names->rgAltEntry[i].dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.cbData == bytes.size() &&
                std::equal(bytes.begin(), bytes.end(), entry.pbData))
                return true;
        }
        return false;
    }
    const auto lengths = san ? EncodedDnsLengths(san->Value) : std::nullopt;
    if (!names || !lengths || name.empty()) return false;
    std::size_t dns = 0;
    for (DWORD i = 0; i < names->cAltEntry && dns < lengths->size(); ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice != CERT_ALT_NAME_DNS_NAME) continue;
        const std::wstring_view presented(entry.pwszDNSName ? entry.pwszDNSName : L"");
        // A name cut short by a NUL names nothing.
        if (presented.size() == (*lengths)[dns++] && Matches(presented, name)) return true;
    }
    return false;
}

// The first http URL the certificate gives for its issuer (caIssuers in its
// Authority Information Access, RFC 5280 section 4.2.2.1), if any. Browsers
// fetch from no other kind (LDAP, FTP), so one of those counts as none.
std::optional<std::string> IssuerUrl(PCCERT_CONTEXT certificate) {
    const CERT_EXTENSION* aia = Extension(certificate, szOID_AUTHORITY_INFO_ACCESS);
    const auto access = aia ? Decoded<CERT_AUTHORITY_INFO_ACCESS>(X509_AUTHORITY_INFO_ACCESS, aia->Value) : nullptr;
    for (DWORD i = 0; access && i < access->cAccDescr; ++i) {
        const CERT_ACCESS_DESCRIPTION& d = access->rgAccDescr[i];
        const std::wstring_view url(d.AccessLocation.dwAltNameChoice == CERT_ALT_NAME_URL && d.AccessLocation.pwszURL
                                        ? d.AccessLocation.pwszURL
                                        : L"");
        const bool printable = std::all_of(url.begin(), url.end(), [](wchar_t c) { return c > L' ' && c < 0x7f; });
        if (d.pszAccessMethod && std::string_view(d.pszAccessMethod) == szOID_PKIX_CA_ISSUERS && printable &&
            _wcsnicmp(url.data(), L"http://", 7) == 0)
            return std::string(url.begin(), url.end());
    }
    return std::nullopt;
}

struct StoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using OwnedStore = std::unique_ptr<void, StoreCloser>;

// The certificates of a caIssuers body, which RFC 5280 section 4.2.2.1 makes
// one DER certificate or a certs-only PKCS #7, in a store of their own;
// nothing for anything else.
OwnedStore Issuers(const std::string& body) {
    CERT_BLOB blob{static_cast<DWORD>(body.size()), reinterpret_cast<BYTE*>(const_cast<char*>(body.data()))};
    HCERTSTORE store = nullptr;
    if (body.empty() || body.size() > MAXDWORD ||
        !CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob,
                          CERT_QUERY_CONTENT_FLAG_CERT | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, nullptr, nullptr))
        return nullptr;
    OwnedStore owned(store);
    PCCERT_CONTEXT any = CertEnumCertificatesInStore(store, nullptr);
    if (!any) return nullptr;
    CertFreeCertificateContext(any);
    return owned;
}

// The chain CryptoAPI builds for server authentication from the peer's
// certificate, with the certificates the peer sent and those of `more` (an
// issuer fetched: the chain engine takes an intermediate from there, never a
// trust anchor). The engine fetches no issuer itself: Verified does, within its
// bound, and tells a URL that gave none from one that could not be asked,
// which CryptoAPI does not. The system's own retrieval (its roots brought up
// to date) has the time left. Nothing is fetched for revocation, which is
// not asked, and nothing at all once no time is left. Wine fetches the
// issuer all the same, with no bound of its own (it passes no time-out down
// to its HTTP retrieval).
OwnedChain Chain(PCCERT_CONTEXT certificate, HCERTSTORE more, Clock::time_point deadline) {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = static_cast<DWORD>(std::size(usages));
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const DWORD left = MillisecondsLeft(deadline);
    chainPara.dwUrlRetrievalTimeout = std::max<DWORD>(left, 1);  // 0 would be the system's default
    const DWORD flags =
        CERT_CHAIN_CACHE_END_CERT | CERT_CHAIN_DISABLE_AIA | (left ? 0 : CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL);
    const OwnedStore both(more ? CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr) : nullptr);
    if (more && (!both || !CertAddStoreToCollection(both.get(), certificate->hCertStore, 0, 0) ||
                 !CertAddStoreToCollection(both.get(), more, 0, 0)))
        return nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, more ? both.get() : certificate->hCertStore, &chainPara,
                                 flags, nullptr, &chain))
        return nullptr;
    return OwnedChain(chain);
}

// The chain as the SSL policy of CryptoAPI reports it: a certificate out of
// its dates is not the chain's fault.
ChainEnd ChainOf(DWORD policyError) {
    switch (policyError) {
        case ERROR_SUCCESS:
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return ChainEnd::Trusted;
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
            return ChainEnd::Untrusted;
        default:
            return ChainEnd::Error;
    }
}

// The SSL policy of CryptoAPI over the chain, for its trust and dates, with
// its name check off (that is Named's): the error it reports.
DWORD PolicyError(PCCERT_CHAIN_CONTEXT chain) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = kIgnoreName;
    ssl.pwszServerName = nullptr;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        return static_cast<DWORD>(CERT_E_INVALID_POLICY);
    return status.dwError;
}

// What the chain CryptoAPI built shows of the peer's certificate, as a
// browser on Windows reads it: the chain to a root of the system's store for
// server authentication, its trust first, as curl reads it (Wine's SSL
// policy passes a chain that ends at an issuer it could not find), then the
// SSL policy for trust and dates; the name and the leaf's own dates beside.
// Nesting of the dates does not count (Windows ignores it), nor revocation,
// which is not asked.
CertificateFacts Facts(PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT certificate, const std::string& name) {
    CertificateFacts facts;
    facts.certificate = true;
    facts.named = Named(certificate, name);
    facts.dated = CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0;
    if (!chain || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return facts;  // an error
    const DWORD chainErrors = chain->TrustStatus.dwErrorStatus &
                              ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (chainErrors & CERT_TRUST_IS_PARTIAL_CHAIN) {
        facts.chain = ChainEnd::IssuerMissing;
    } else if (chainErrors & CERT_TRUST_IS_UNTRUSTED_ROOT) {
        facts.chain = ChainEnd::Untrusted;
    } else if (chain->rgpChain[0]->cElement > kMaxIntermediates + 2) {
        // At most 8 intermediate CAs between the site and the root, as on
        // Linux (and as mozilla::pkix allows): a longer chain proves nothing.
        facts.chain = ChainEnd::TooDeep;
    } else {
        const DWORD policy = PolicyError(chain);
        facts.chain = ChainOf(policy);
        if (facts.chain == ChainEnd::Trusted && chainErrors & ~CERT_TRUST_IS_NOT_TIME_VALID)
            facts.chain = ChainEnd::Error;
        facts.dated = facts.dated && policy != static_cast<DWORD>(CERT_E_EXPIRED) &&
                      !(chainErrors & CERT_TRUST_IS_NOT_TIME_VALID);
    }
    return facts;
}

// The peer's certificate verified, an issuer the chain lacks fetched from
// the caIssuers URL of the certificate that lacks it, once, by the deadline,
// through the proxy `road` gives for the URL.
CertificateFacts Verified(PCCERT_CONTEXT certificate, const std::string& name, Clock::time_point deadline,
                          Http& http, const RoadFor& road) {
    const OwnedChain chain = Chain(certificate, nullptr, deadline);
    // No chain at all is no judgement of the certificate: the store or the
    // engine could not have what it needed.
    if (!chain) throw std::bad_alloc();
    CertificateFacts facts = Facts(chain.get(), certificate, name);
    if (facts.chain != ChainEnd::IssuerMissing) return facts;
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    const auto url = IssuerUrl(simple.rgpElement[simple.cElement - 1]->pCertContext);
    const GetReply got = url ? http.Get(*url, kMaxIssuerBytes, deadline, road(*url)) : GetReply{};
    const OwnedStore issuers = got.end == GetEnd::Reply ? Issuers(got.body) : nullptr;
    facts.fetch = url ? FetchEnded(got.end, issuers != nullptr) : IssuerFetch::NoUrl;
    if (facts.fetch != IssuerFetch::Fetched) return facts;
    const OwnedChain again = Chain(certificate, issuers.get(), deadline);
    if (!again) throw std::bad_alloc();
    facts = Facts(again.get(), certificate, name);
    facts.fetch = IssuerFetch::Fetched;
    return facts;
}

struct CertificateFreer {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using OwnedCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

struct ContextBufferFreer {
    void operator()(void* buffer) const { FreeContextBuffer(buffer); }
};

// How a certificate's verification ended: its facts, or the proof of a
// probe that could not have it (no memory for it, or another fault).
struct Verification {
    std::size_t probe = 0;
    CertificateFacts facts;
    std::optional<Proof> failed;
};

// The certificates' verifications of one call, which block (CryptoAPI's
// chain engine may bring the system's roots up to date, Wine's fetches a
// missing issuer with no bound of its own, and the issuer's GET waits for
// its server), on at most kVerifiers threads of the call's own, in the
// order they are asked for. Gone, it drops those not begun; one running
// ends on its own with its thread, holding only what the two share.
class Verifiers {
public:
    Verifiers(Clock::time_point deadline, Http& http, const RoadFor& road, std::size_t probes)
        : shared_(std::make_shared<Shared>(deadline, http, road, probes)) {}
    ~Verifiers() {
        std::lock_guard roads(shared_->roadMutex);  // no road asked for once the call has returned
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
        shared_->queue.clear();
        shared_->changed.notify_all();
    }
    Verifiers(const Verifiers&) = delete;
    Verifiers& operator=(const Verifiers&) = delete;

    // Asks for the verification of the probe's certificate for `name` (the
    // site's, or its proxy's host): false when no thread can be had for it.
    bool Ask(std::size_t probe, OwnedCertificate certificate, const std::wstring& name);

    // Waits until a verification has ended, or `until`.
    void Wait(Clock::time_point until) {
        std::unique_lock lock(shared_->mutex);
        shared_->changed.wait_until(lock, until, [&] { return shared_->ended > 0; });
    }

    // A verification that has ended, if any, taken.
    std::optional<Verification> Next();

private:
    static constexpr std::size_t kVerifiers = 2;
    struct Job {
        std::size_t probe;
        OwnedCertificate certificate;
        std::string name;
    };
    struct Shared {
        Shared(Clock::time_point d, Http& h, const RoadFor& r, std::size_t probes)
            : deadline(d), http(h), road(r), results(probes) {}
        const Clock::time_point deadline;
        Http& http;
        const RoadFor road;  // the caller's: asked only while the call runs
        std::mutex roadMutex;
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Job> queue;
        std::vector<std::optional<Verification>> results;  // by probe: nothing to allocate once it ends
        std::size_t ended = 0;  // results not yet taken
        std::size_t threads = 0;
        std::size_t idle = 0;
        bool closed = false;
    };
    static void Work(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> shared_;
};

bool Verifiers::Ask(std::size_t probe, OwnedCertificate certificate, const std::wstring& name) {
    Shared& s = *shared_;
    std::string ace(name.begin(), name.end());
    std::lock_guard lock(s.mutex);
    s.queue.push_back({probe, std::move(certificate), std::move(ace)});
    if (s.queue.size() > s.idle && s.threads < kVerifiers) {
        try {
            std::thread(Work, shared_).detach();
            ++s.threads;
        } catch (const std::exception&) {
            // a thread limit, or no memory: those running take it
        }
    }
    if (s.threads == 0) {
        s.queue.pop_back();
        return false;
    }
    s.changed.notify_all();
    return true;
}

std::optional<Verification> Verifiers::Next() {
    std::lock_guard lock(shared_->mutex);
    for (auto& result : shared_->results) {
        if (!result) continue;
        std::optional<Verification> taken = std::move(result);
        result.reset();
        --shared_->ended;
        return taken;
    }
    return std::nullopt;
}

void Verifiers::Work(const std::shared_ptr<Shared>& s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        ++s->idle;
        s->changed.wait(lock, [&] { return s->closed || !s->queue.empty(); });
        --s->idle;
        if (s->closed) return;
        Job job = std::move(s->queue.front());
        s->queue.pop_front();
        lock.unlock();
        Verification done{job.probe, {}, std::nullopt};
        try {
            // The road of an issuer's URL, asked of the caller only while
            // its call runs; none once it has returned, when nothing waits
            // for the verification.
            const RoadFor road = [&s](const std::string& url) {
                std::lock_guard roads(s->roadMutex);
                {
                    std::lock_guard state(s->mutex);
                    if (s->closed) throw std::runtime_error("the call has returned");
                }
                return s->road ? s->road(url) : ProxyEntry{};
            };
            done.facts = Verified(job.certificate.get(), job.name, s->deadline, s->http, road);
        } catch (const std::bad_alloc&) {
            done.failed = Unknown(ProofReason::Resources);
        } catch (...) {
            done.failed = Proof{};  // unknown, internal
        }
        job.certificate.reset();
        lock.lock();
        s->results[done.probe] = done;
        ++s->ended;
        s->changed.notify_all();
    }
}

// What a probe waits for.
enum class Awaits { Connection, Read, Write, Verification, Nothing };

// One TLS client's context through SChannel, for one name given as SNI.
// The certificate is judged here, not by SChannel, and no certificate of
// ours is offered.
class Schannel {
public:
    explicit Schannel(const std::string& name) : target_(name.begin(), name.end()) {}
    ~Schannel() {
        if (haveContext_) DeleteSecurityContext(&context_);
        if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    }
    Schannel(const Schannel&) = delete;
    Schannel& operator=(const Schannel&) = delete;

    const std::wstring& target() const { return target_; }

    // SCH_CREDENTIALS (Windows 10 1809 on) brings the system's protocols,
    // TLS 1.3 included; SCHANNEL_CRED stops at TLS 1.2 and serves older
    // systems. TLS 1.2 at least, as the browsers ask.
    SECURITY_STATUS AcquireCredentials() {
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
        SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
        for (void* cred : {static_cast<void*>(&current), static_cast<void*>(&older)}) {
            status = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                               nullptr, cred, nullptr, nullptr, &credentials_, nullptr);
            haveCredentials_ = status == SEC_E_OK;
            if (haveCredentials_) break;
        }
        return status;
    }

    // The peer's certificate, once SChannel shows it.
    OwnedCertificate Certificate() const {
        PCCERT_CONTEXT certificate = nullptr;
        if (!haveContext_ ||
            QueryContextAttributesW(const_cast<CtxtHandle*>(&context_), SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                    &certificate) != SEC_E_OK)
            return nullptr;
        return OwnedCertificate(certificate);
    }

    // One call of InitializeSecurityContext with the peer's bytes (none at
    // the start, or a post-handshake message); adds what it gives to send
    // to `out`, and keeps in `in` what it left.
    SECURITY_STATUS Step(std::vector<char>* in, std::vector<char>& out) {
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
            &credentials_, first ? nullptr : &context_, const_cast<wchar_t*>(target_.c_str()), wanted, 0, 0,
            in ? &inDesc : nullptr, 0, &context_, &outDesc, &got, nullptr);  // never NULL: the same handle later
        if (first && (state == SEC_E_OK || state == SEC_I_CONTINUE_NEEDED || state == SEC_I_INCOMPLETE_CREDENTIALS))
            haveContext_ = true;
        const std::unique_ptr<void, ContextBufferFreer> given(outBuffer.pvBuffer);
        const char* bytes = static_cast<const char*>(outBuffer.pvBuffer);
        if (bytes) out.insert(out.end(), bytes, bytes + outBuffer.cbBuffer);
        if (in && state != SEC_E_INCOMPLETE_MESSAGE && state != SEC_I_INCOMPLETE_CREDENTIALS) {
            // What SChannel did not take stays for the next call.
            if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer <= in->size())
                in->erase(in->begin(), in->end() - inBuffers[1].cbBuffer);
            else
                in->clear();
        }
        return state;
    }

    // `plain` sealed in records of at most the context's largest message
    // (EncryptMessage with its stream sizes), added to `out`.
    void Seal(std::string_view plain, std::vector<char>& out) {
        if (!sizes_) {
            SecPkgContext_StreamSizes sizes{};
            if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
                !sizes.cbMaximumMessage)
                throw std::runtime_error("no stream sizes");
            sizes_ = sizes;
        }
        while (!plain.empty()) {
            const auto length = std::min<std::size_t>(plain.size(), sizes_->cbMaximumMessage);
            std::vector<char> record(sizes_->cbHeader + length + sizes_->cbTrailer);
            std::copy_n(plain.data(), length, record.data() + sizes_->cbHeader);
            SecBuffer buffers[4]{{sizes_->cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                                 {static_cast<unsigned long>(length), SECBUFFER_DATA, record.data() + sizes_->cbHeader},
                                 {sizes_->cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_->cbHeader + length},
                                 {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS state = EncryptMessage(&context_, 0, &desc, 0);
            if (state == SEC_E_INSUFFICIENT_MEMORY) throw std::bad_alloc();
            if (state != SEC_E_OK) throw std::runtime_error("not sealed");
            out.insert(out.end(), record.data(), record.data() + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
            plain.remove_prefix(length);
        }
    }

    // The records whole in `raw` opened (DecryptMessage), their content
    // added to `plain` and a post-handshake message (a TLS 1.3 session
    // ticket, which SChannel reports as SEC_I_RENEGOTIATE) given back to
    // InitializeSecurityContext, whose answer goes to `out`; `raw` keeps
    // what is not yet whole. False when the peer closed or sent what does
    // not open.
    bool Open(std::vector<char>& raw, std::vector<char>& plain, std::vector<char>& out) {
        while (!raw.empty()) {
            SecBuffer buffers[4]{{static_cast<unsigned long>(raw.size()), SECBUFFER_DATA, raw.data()},
                                 {0, SECBUFFER_EMPTY, nullptr},
                                 {0, SECBUFFER_EMPTY, nullptr},
                                 {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS state = DecryptMessage(&context_, &desc, 0, nullptr);
            if (state == SEC_E_INCOMPLETE_MESSAGE) return true;
            if (state != SEC_E_OK && state != SEC_I_RENEGOTIATE) return false;  // closed (SEC_I_CONTEXT_EXPIRED), or broken
            std::vector<char> extra;
            for (const SecBuffer& b : buffers) {
                if (b.BufferType == SECBUFFER_DATA && b.pvBuffer)
                    plain.insert(plain.end(), static_cast<char*>(b.pvBuffer), static_cast<char*>(b.pvBuffer) + b.cbBuffer);
                if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer <= raw.size())
                    extra.assign(raw.end() - b.cbBuffer, raw.end());
            }
            if (state == SEC_I_RENEGOTIATE && Step(&extra, out) != SEC_E_OK) return false;
            raw = std::move(extra);
        }
        return true;
    }

    bool haveContext() const { return haveContext_; }

private:
    std::wstring target_;  // the ACE name, for SNI
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    std::optional<SecPkgContext_StreamSizes> sizes_;
};

// One route's probe, a step at a time and never blocking: a TCP connection
// to the site's address or to its proxy; through a proxy, the tunnel to the
// name (inside TLS to an HTTPS proxy, whose certificate must prove the
// proxy's host); then a handshake through SChannel fed by the socket (or by
// the proxy's TLS), and its certificate judged as soon as it has come: a
// judgement that fails stands whatever the handshake does after it, one
// that passes proves the name once the handshake completes.
class Probe {
public:
    Probe(std::size_t index, const std::string& name, const ProxyEntry& via, Clock::time_point deadline)
        : index_(index), name_(name), via_(via), site_(name), deadline_(deadline) {
        if (via.scheme == ProxyScheme::Https) proxy_ = std::make_unique<Schannel>(via.host);
        stage_ = proxy_ ? Stage::ProxyTls : via.scheme == ProxyScheme::Direct ? Stage::Site : Stage::Tunnel;
    }
    ~Probe() { Close(); }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    Awaits awaits() const { return proof_ ? Awaits::Nothing : awaits_; }
    SOCKET handle() const { return socket_; }
    const std::optional<Proof>& proof() const { return proof_; }

    // A non-blocking connection to the peer (the site or its proxy) begun.
    void Start(const Address& address, std::uint16_t port, Verifiers& verifiers) {
        sockaddr_storage to;
        const int length = ToSockaddr(address, port, to);
        if (!length) return End(Unknown(ProofReason::Refused));
        socket_ = socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return End(Unknown(Lacking(WSAGetLastError())));
        u_long nonBlocking = 1;
        if (ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) return End(Proof{});
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&to), length) == 0) return Begin(verifiers);
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) return End(Unknown(Lacking(error)));
        awaits_ = Awaits::Connection;
    }

    // Its socket is ready as it awaits, or (`failed`) its connection failed.
    void Ready(bool failed, Verifiers& verifiers) {
        if (awaits_ == Awaits::Connection) {
            int error = 0;
            int size = sizeof error;
            const bool connected =
                !failed && getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                !error;
            return connected ? Begin(verifiers) : End(Unknown(ProofReason::Refused));
        }
        if (awaits_ == Awaits::Read) return Receive(verifiers);
        Advance(verifiers);
    }

    // Its certificate's verification has ended.
    void Verified(const Verification& verification, Verifiers& verifiers) {
        if (proof_) return;  // timed out while it ran
        if (verification.failed) return End(*verification.failed);
        facts_ = verification.facts;
        if (ended_) return Judged();
        Advance(verifiers);
    }

    // The deadline has passed: a verification asked for has the grace.
    void Expire(Verifiers& verifiers) {
        if (proof_ || awaits_ == Awaits::Verification) return;
        if (awaits_ == Awaits::Connection || stage_ == Stage::Tunnel) return End(Unknown(ProofReason::Timeout));
        Finish(HandshakeEnd::TimedOut, verifiers);
    }

    void End(const Proof& proof) {
        Close();
        proof_ = proof;
    }

private:
    // Where the probe is: TLS to an HTTPS proxy, the tunnel asked of the
    // proxy, the site's handshake.
    enum class Stage { ProxyTls, Tunnel, Site };

    // The reason for a socket error: a lack of resources, or the peer.
    static ProofReason Lacking(int error) {
        return error == WSAEMFILE || error == WSAENOBUFS ? ProofReason::Resources : ProofReason::Refused;
    }

    void Close() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

    // The TLS of the stage: the proxy's, or the site's.
    Schannel& Tls() { return stage_ == Stage::ProxyTls ? *proxy_ : site_; }

    // The connection is made: the tunnel asked for, or the handshake's
    // first message.
    void Begin(Verifiers& verifiers) {
        if (stage_ == Stage::Tunnel) return AskForTunnel(verifiers);
        StartHandshake(verifiers);
    }

    void StartHandshake(Verifiers& verifiers) {
        const SECURITY_STATUS acquired = Tls().AcquireCredentials();
        if (acquired != SEC_E_OK)
            return End(Unknown(acquired == SEC_E_INSUFFICIENT_MEMORY ? ProofReason::Resources : ProofReason::NotTls));
        state_ = Step(nullptr);
        Advance(verifiers);
    }

    // The bytes of the stage to send: inside the proxy's TLS once it is made.
    void Put(std::string_view bytes) {
        if (proxy_ && stage_ != Stage::ProxyTls) return proxy_->Seal(bytes, out_);
        out_.insert(out_.end(), bytes.begin(), bytes.end());
    }

    void AskForTunnel(Verifiers& verifiers) {
        stage_ = Stage::Tunnel;
        const std::string request = TunnelRequest(via_.scheme, name_, false);
        if (request.empty()) return End(Unknown(ProofReason::Refused));
        Put(request);
        Advance(verifiers);
        if (!proof_ && !raw_.empty()) Take({}, verifiers);  // what came with the proxy's last handshake message
    }

    // The proxy's reply so far, `head_`: the tunnel made, refused, or more
    // of the reply awaited.
    void Tunnel(Verifiers& verifiers) {
        const auto reply = ReadTunnelReply(via_.scheme, head_, socksGreeted_);
        switch (reply.step) {
            case TunnelReply::Step::More: return Advance(verifiers);
            case TunnelReply::Step::Next:
                socksGreeted_ = true;
                head_.erase(0, reply.length);
                Put(TunnelRequest(via_.scheme, name_, true));
                return Tunnel(verifiers);
            case TunnelReply::Step::Made: return Tunnelled(reply.length, verifiers);
            case TunnelReply::Step::ProxyAuth: return End(Unknown(ProofReason::ProxyAuth));
            case TunnelReply::Step::Refused: break;
        }
        End(Unknown(ProofReason::Refused));
    }

    // The tunnel is made with the first `reply` bytes of `head_`: the
    // site's handshake through it, with any bytes that came after them.
    void Tunnelled(std::size_t reply, Verifiers& verifiers) {
        const std::string after = head_.substr(reply);
        head_.clear();
        stage_ = Stage::Site;
        StartHandshake(verifiers);
        if (!proof_ && !after.empty()) Handshake(after, verifiers);
    }

    // The handshake of the stage, or the tunnel's, as far as it goes without
    // waiting: until it waits for the peer's bytes, for the socket to take
    // ours or for its certificate's verification, or it has ended.
    void Advance(Verifiers& verifiers) {
        if (stage_ == Stage::Tunnel) {
            if (!Flush()) return;
            if (sendFailed_) return End(Unknown(ProofReason::Aborted));
            if (Clock::now() >= deadline_) return End(Unknown(ProofReason::Timeout));
            awaits_ = Awaits::Read;
            return;
        }
        for (;;) {
            if (!Flush()) return;
            if (Gather(verifiers)) return;
            if (Unproven()) return Finish(HandshakeEnd::Ended, verifiers);  // nothing more is sent
            if (state_ == SEC_E_OK) {
                if (stage_ == Stage::Site) return Finish(HandshakeEnd::Complete, verifiers);
                return ProxyMade(verifiers);
            }
            if (state_ == SEC_E_INSUFFICIENT_MEMORY) return End(Unknown(ProofReason::Resources));
            if (Clock::now() >= deadline_) return Finish(HandshakeEnd::TimedOut, verifiers);
            if (state_ == SEC_I_INCOMPLETE_CREDENTIALS && !askedForCertificate_) {
                // The peer asks for a certificate of ours: go on without one.
                askedForCertificate_ = true;
                state_ = Step(&in_);
                continue;
            }
            // Reset while we sent, not TLS, or the peer gave up.
            if (sendFailed_ || (state_ != SEC_I_CONTINUE_NEEDED && state_ != SEC_E_INCOMPLETE_MESSAGE))
                return Finish(HandshakeEnd::Ended, verifiers);
            if (state_ == SEC_I_CONTINUE_NEEDED && !in_.empty()) {
                state_ = Step(&in_);  // a record of the peer's is still to be taken
                if (state_ != SEC_E_INCOMPLETE_MESSAGE) continue;
            }
            awaits_ = Awaits::Read;
            return;
        }
    }

    // The proxy's TLS is made, its certificate proving its host: the
    // tunnel asked for inside it; the bytes that came after the handshake
    // are the proxy's records.
    void ProxyMade(Verifiers& verifiers) {
        if (!facts_.certificate) return End(Unknown(ProofReason::Refused));
        raw_ = std::move(in_);
        in_.clear();
        facts_ = {};
        answered_ = askedForCertificate_ = false;
        state_ = SEC_E_INTERNAL_ERROR;
        AskForTunnel(verifiers);
    }

    // The peer's bytes that have come, to the stage.
    void Receive(Verifiers& verifiers) {
        char chunk[16 * 1024];
        const int n = recv(socket_, chunk, sizeof chunk, 0);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return Advance(verifiers);
        if (n <= 0) return Closed(verifiers);  // closed, or reset
        Take({chunk, static_cast<std::size_t>(n)}, verifiers);
    }

    // Bytes from the socket: the proxy's TLS handshake's, or, opened from
    // its records where it has some, the tunnel's reply or the site's.
    void Take(std::string_view bytes, Verifiers& verifiers) {
        if (stage_ == Stage::ProxyTls) return Handshake(bytes, verifiers);
        std::vector<char> plain;
        if (proxy_) {
            raw_.insert(raw_.end(), bytes.begin(), bytes.end());
            if (raw_.size() > kMaxHandshake || !proxy_->Open(raw_, plain, out_)) return Closed(verifiers);
            bytes = {plain.data(), plain.size()};
        }
        if (stage_ == Stage::Site) return Handshake(bytes, verifiers);
        head_.append(bytes);
        Tunnel(verifiers);
    }

    // The peer has closed, reset, or broken the proxy's TLS.
    void Closed(Verifiers& verifiers) {
        if (stage_ == Stage::Tunnel) return End(Unknown(ProofReason::Aborted));
        Finish(HandshakeEnd::Ended, verifiers);
    }

    // The handshake peer's bytes, to SChannel.
    void Handshake(std::string_view bytes, Verifiers& verifiers) {
        if (bytes.empty()) return Advance(verifiers);
        // A TLS server's first record is a handshake or an alert (RFC 8446
        // section 5.1); SChannel may wait for more of anything else.
        if (!answered_ && bytes[0] != kHandshake && bytes[0] != kAlert) return Finish(HandshakeEnd::Ended, verifiers);
        answered_ = true;
        if (in_.size() + bytes.size() > kMaxHandshake) return Finish(HandshakeEnd::Ended, verifiers);
        in_.insert(in_.end(), bytes.begin(), bytes.end());
        state_ = Step(&in_);
        Advance(verifiers);
    }

    // Sends what is to be sent as far as the socket takes it: false while
    // some is left to send. A send that fails ends the exchange.
    bool Flush() {
        while (!out_.empty()) {
            const int n = send(socket_, out_.data(), static_cast<int>(std::min<std::size_t>(out_.size(), INT_MAX)), 0);
            if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
                awaits_ = Awaits::Write;
                return false;
            }
            if (n == SOCKET_ERROR) {
                sendFailed_ = true;  // reset
                state_ = SEC_E_INTERNAL_ERROR;
                out_.clear();
                break;
            }
            out_.erase(out_.begin(), out_.begin() + n);
        }
        return true;
    }

    // The handshake has ended so: a certificate that came with the peer's
    // last bytes verified, then the facts judged. The proxy's TLS that does
    // not complete with a certificate that proves its host refuses the
    // tunnel.
    void Finish(HandshakeEnd ended, Verifiers& verifiers) {
        Close();
        if (stage_ == Stage::ProxyTls)
            return End(Unknown(ended == HandshakeEnd::TimedOut && !Unproven() ? ProofReason::Timeout
                                                                             : ProofReason::Refused));
        ended_ = ended;
        if (!Gather(verifiers)) Judged();
    }

    void Judged() {
        CertificateFacts facts = facts_;
        facts.handshake = *ended_;
        End(Judge(facts));
    }

    // Whether the certificate came and does not pass, whatever the
    // handshake does next.
    bool Unproven() const {
        CertificateFacts whole = facts_;
        whole.handshake = HandshakeEnd::Complete;
        return facts_.certificate && Judge(whole) != kProven;
    }

    // The peer's certificate sent to be verified for the stage's name once
    // SChannel shows it: at each turn of the handshake and once more after
    // it ended, completed or not; whether the probe now waits for it (or
    // has ended without a thread for it). Wine shows it as soon as the
    // server's Certificate message is taken, and still on the context of a
    // handshake that failed after it (an alert, a reset). Where SChannel
    // would show none for a handshake that failed, the failure stands as it
    // is (NotTls, Timeout).
    bool Gather(Verifiers& verifiers) {
        if (facts_.certificate) return false;
        OwnedCertificate certificate = Tls().Certificate();
        if (!certificate) return false;
        if (verifiers.Ask(index_, std::move(certificate), Tls().target()))
            awaits_ = Awaits::Verification;
        else
            End(Unknown(ProofReason::Resources));
        return true;
    }

    // One step of the stage's handshake; what it gives goes out.
    SECURITY_STATUS Step(std::vector<char>* in) {
        std::vector<char> tokens;
        const SECURITY_STATUS state = Tls().Step(in, tokens);
        Put({tokens.data(), tokens.size()});
        return state;
    }

    std::size_t index_;
    std::string name_;
    ProxyEntry via_;
    Schannel site_;
    std::unique_ptr<Schannel> proxy_;  // an HTTPS proxy's TLS
    Stage stage_ = Stage::Site;
    Clock::time_point deadline_;
    SOCKET socket_ = INVALID_SOCKET;
    Awaits awaits_ = Awaits::Nothing;
    std::optional<Proof> proof_;            // once it has ended
    std::optional<HandshakeEnd> ended_;     // once the site's handshake has
    SECURITY_STATUS state_ = SEC_E_INTERNAL_ERROR;  // SChannel's last word
    std::vector<char> in_;                  // the handshake peer's bytes not yet taken by SChannel
    std::vector<char> raw_;                 // the proxy's TLS records not yet opened
    std::string head_;                      // the proxy's reply so far
    std::vector<char> out_;                 // ours not yet taken by the socket
    CertificateFacts facts_;                // the stage's certificate's, once verified
    bool sendFailed_ = false;
    bool askedForCertificate_ = false;
    bool answered_ = false;  // the handshake peer has sent its first bytes
    bool socksGreeted_ = false;  // a SOCKS5 proxy took the greeting
};

// A probe's own bound is the deadline; a verification still running then
// is waited for only this much longer, and its probe counts as timed out
// after it.
constexpr std::chrono::milliseconds kGrace{250};

// How often the loop looks for an ended verification while it also waits
// on sockets: select cannot wait on the verifiers.
constexpr std::chrono::milliseconds kVerifierPoll{10};

// The time from now to `until` for select, none when it has passed.
timeval Limit(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(until - Clock::now()).count();
    const long long us = std::max<long long>(left, 0);
    return {static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
}

// The probes of one call, driven by one loop on the calling thread: select
// over their sockets, the verifiers beside.
class Probes {
public:
    Probes(const std::vector<ProbeRoute>& routes, const std::string& name, Clock::time_point deadline, Http& http,
           const RoadFor& road)
        : verifiers_(deadline, http, road, routes.size()), deadline_(deadline) {
        for (std::size_t i = 0; i < routes.size(); ++i) probes_.emplace_back(i, name, routes[i].via, deadline);
    }

    // Runs every probe to its end, telling `ended` of each and writing its
    // proof in `proofs` as it ends.
    void Run(const std::vector<ProbeRoute>& routes, const Serve& serve, const ProbeEnded& ended,
             std::vector<Proof>& proofs, std::vector<bool>& told) {
        for (std::size_t i = 0; i < probes_.size(); ++i) {
            // Each probe needs a place in a descriptor set, the failed
            // connections' included.
            if (i >= static_cast<std::size_t>(FD_SETSIZE)) probes_[i].End(Unknown(ProofReason::Resources));
            else Guarded(i, [&] { probes_[i].Start(routes[i].address, routes[i].port, verifiers_); });
        }
        for (bool expired = false;;) {
            while (const auto done = verifiers_.Next())
                Guarded(done->probe, [&] { probes_[done->probe].Verified(*done, verifiers_); });
            const auto now = Clock::now();
            if (now >= deadline_) {
                expired = true;
                for (std::size_t i = 0; i < probes_.size(); ++i) Guarded(i, [&] { probes_[i].Expire(verifiers_); });
            }
            for (auto& probe : probes_)
                if (now >= deadline_ + kGrace && !probe.proof()) probe.End(Unknown(ProofReason::Timeout));
            Tell(ended, proofs, told);
            if (std::all_of(probes_.begin(), probes_.end(), [](const Probe& p) { return p.proof().has_value(); }))
                return;
            const auto until = expired ? deadline_ + kGrace : deadline_;
            Wait(serve ? std::min(until, now + kServeSlice) : until);
            if (serve) serve();
        }
    }

private:
    // Runs a step of probe i; a step that throws ends it, for want of
    // memory or as an internal fault.
    template <class Step>
    void Guarded(std::size_t i, Step step) {
        try {
            step();
        } catch (const std::bad_alloc&) {
            probes_[i].End(Unknown(ProofReason::Resources));
        } catch (...) {
            probes_[i].End(Proof{});
        }
    }

    void Tell(const ProbeEnded& ended, std::vector<Proof>& proofs, std::vector<bool>& told) {
        for (std::size_t i = 0; i < probes_.size(); ++i) {
            if (told[i] || !probes_[i].proof()) continue;
            proofs[i] = *probes_[i].proof();
            told[i] = true;
            if (ended) ended(i, proofs[i]);
        }
    }

    // Waits until a socket is ready as its probe awaits, a verification has
    // ended, or `until`; the ready sockets' probes take their next step.
    void Wait(Clock::time_point until) {
        fd_set readable, writable, failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        bool verifying = false;
        for (const Probe& p : probes_) {
            const Awaits awaits = p.awaits();
            if (awaits == Awaits::Read) FD_SET(p.handle(), &readable);
            if (awaits == Awaits::Write || awaits == Awaits::Connection) FD_SET(p.handle(), &writable);
            if (awaits == Awaits::Connection) FD_SET(p.handle(), &failed);  // where select tells a refusal
            verifying = verifying || awaits == Awaits::Verification;
        }
        // select takes no empty call: with no socket to wait on, the wait is the verifiers'.
        if (!readable.fd_count && !writable.fd_count) return verifiers_.Wait(until);
        if (verifying) until = std::min(until, Clock::now() + kVerifierPoll);
        timeval limit = Limit(until);
        const int n = select(0, readable.fd_count ? &readable : nullptr, writable.fd_count ? &writable : nullptr,
                             failed.fd_count ? &failed : nullptr, &limit);
        const ProofReason lacking =
            n == SOCKET_ERROR && WSAGetLastError() == WSAENOBUFS ? ProofReason::Resources : ProofReason::Internal;
        for (std::size_t i = 0; i < probes_.size(); ++i) {
            Probe& p = probes_[i];
            const SOCKET s = p.handle();
            const bool waited = s != INVALID_SOCKET && p.awaits() != Awaits::Verification;
            if (n == SOCKET_ERROR && waited) p.End(Unknown(lacking));
            if (n <= 0 || !waited) continue;
            const bool refused = FD_ISSET(s, &failed);
            if (refused || FD_ISSET(s, &readable) || FD_ISSET(s, &writable))
                Guarded(i, [&] { p.Ready(refused, verifiers_); });
        }
    }

    Verifiers verifiers_;
    Clock::time_point deadline_;
    std::deque<Probe> probes_;
};

}  // namespace

// No thread of a probe's own: every probe runs in one loop on the calling
// thread, and only the certificates' verifications, which may block, run
// beside it on the call's few verifiers.
std::vector<Proof> WinTls::ProbeRoutes(const std::vector<ProbeRoute>& routes, const std::string& name,
                                       Clock::time_point deadline, const Serve& serve, const ProbeEnded& ended,
                                       const RoadFor& road) {
    std::vector<Proof> proofs;
    std::vector<bool> told;
    try {
        proofs.assign(routes.size(), Unknown(ProofReason::Resources));
        told.assign(routes.size(), false);
        Probes(routes, name, deadline, http_, road).Run(routes, serve, ended, proofs, told);
    } catch (const std::exception&) {
        // No memory, or no verifiers, for the call itself: the probes not
        // yet told of end for want of resources.
        for (std::size_t i = 0; i < told.size(); ++i) {
            if (told[i]) continue;
            proofs[i] = Unknown(ProofReason::Resources);
            told[i] = true;
            if (ended) ended(i, proofs[i]);
        }
    }
    return proofs;
}

}  // namespace tarnwell::platform
