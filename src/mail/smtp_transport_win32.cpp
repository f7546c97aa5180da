// Windows backend of SmtpTransport: Winsock, TLS through Schannel (SSPI).
//
// Only Win32 lives here. The socket is non-blocking so every wait is a select() bounded by the
// caller's deadline. Schannel is asked for TLS 1.2 or later with manual validation, and the
// server's chain is then checked here with the SSL chain policy (trust in the system's root
// store, and the host name), so the same checks run on every Windows version and under Wine.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/windows_api.h"
#include "common/winsock_session.h"

#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include "mail/alt_names_der.h"
#include "mail/host_name_match.h"
#include "mail/smtp_transport.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace modSendEmail {

namespace {

// --- RAII owners, one per kind --------------------------------------------------------------

class Socket {
public:
    Socket() = default;
    explicit Socket(SOCKET s) : s_(s) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& o) noexcept : s_(std::exchange(o.s_, INVALID_SOCKET)) {}
    Socket& operator=(Socket&& o) noexcept {
        if (this != &o) {
            reset(std::exchange(o.s_, INVALID_SOCKET));
        }
        return *this;
    }
    ~Socket() { reset(); }
    SOCKET get() const { return s_; }
    void reset(SOCKET s = INVALID_SOCKET) {
        if (s_ != INVALID_SOCKET) {
            closesocket(s_);
        }
        s_ = s;
    }

private:
    SOCKET s_ = INVALID_SOCKET;
};

class Credentials {
public:
    Credentials() { SecInvalidateHandle(&h_); }
    ~Credentials() { reset(); }
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;
    CredHandle* get() { return &h_; }
    bool valid() const { return SecIsValidHandle(&h_); }
    void reset() {
        if (valid()) {
            FreeCredentialsHandle(&h_);
            SecInvalidateHandle(&h_);
        }
    }

private:
    CredHandle h_;
};

class SecurityContext {
public:
    SecurityContext() { SecInvalidateHandle(&h_); }
    ~SecurityContext() { reset(); }
    SecurityContext(const SecurityContext&) = delete;
    SecurityContext& operator=(const SecurityContext&) = delete;
    CtxtHandle* get() { return &h_; }
    bool valid() const { return SecIsValidHandle(&h_); }
    void reset() {
        if (valid()) {
            DeleteSecurityContext(&h_);
            SecInvalidateHandle(&h_);
        }
    }

private:
    CtxtHandle h_;
};

// A buffer Schannel allocated (ISC_REQ_ALLOCATE_MEMORY).
class ContextBuffer {
public:
    explicit ContextBuffer(void* p) : p_(p) {}
    ~ContextBuffer() {
        if (p_ != nullptr) {
            FreeContextBuffer(p_);
        }
    }
    ContextBuffer(const ContextBuffer&) = delete;
    ContextBuffer& operator=(const ContextBuffer&) = delete;

private:
    void* p_;
};

class CertContext {
public:
    CertContext() = default;
    ~CertContext() {
        if (c_ != nullptr) {
            CertFreeCertificateContext(c_);
        }
    }
    CertContext(const CertContext&) = delete;
    CertContext& operator=(const CertContext&) = delete;
    PCCERT_CONTEXT* out() { return &c_; }
    PCCERT_CONTEXT get() const { return c_; }

private:
    PCCERT_CONTEXT c_ = nullptr;
};

class CertChain {
public:
    CertChain() = default;
    ~CertChain() {
        if (c_ != nullptr) {
            CertFreeCertificateChain(c_);
        }
    }
    CertChain(const CertChain&) = delete;
    CertChain& operator=(const CertChain&) = delete;
    PCCERT_CHAIN_CONTEXT* out() { return &c_; }
    PCCERT_CHAIN_CONTEXT get() const { return c_; }

private:
    PCCERT_CHAIN_CONTEXT c_ = nullptr;
};

// A block CryptDecodeObjectEx allocated (CRYPT_DECODE_ALLOC_FLAG).
class LocalBlock {
public:
    LocalBlock() = default;
    ~LocalBlock() {
        if (p_ != nullptr) {
            LocalFree(p_);
        }
    }
    LocalBlock(const LocalBlock&) = delete;
    LocalBlock& operator=(const LocalBlock&) = delete;
    void* out() { return &p_; }
    template <typename T>
    const T* as() const {
        return static_cast<const T*>(p_);
    }

private:
    void* p_ = nullptr;
};

// --- the certificate's names ------------------------------------------------------------------

std::string WideToUtf8(const wchar_t* w, std::size_t size) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, int(size), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, w, int(size), s.data(), n, nullptr, nullptr);
    }
    return s;
}

bool Decode(const char* type, const BYTE* data, DWORD size, LocalBlock& out) {
    DWORD decoded = 0;
    return CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, type, data, size,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, out.out(), &decoded) != FALSE;
}

// The names the host-name rule looks at: the subjectAltName entries, read from the
// extension's own bytes (the system's decoder hands each one over as a NUL-terminated string,
// which would hide a NUL inside), and the subject's common names as the decoder gives them. No
// value when the extension cannot be read: such a certificate is for no host, as the native build
// has it.
std::optional<CertificateNames> NamesOf(PCCERT_CONTEXT cert) {
    CertificateNames names;
    const CERT_INFO* info = cert->pCertInfo;
    if (const CERT_EXTENSION* ext =
            CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension)) {
        const std::string_view der(reinterpret_cast<const char*>(ext->Value.pbData),
                                   ext->Value.cbData);
        if (!ReadAltNames(der, names)) {
            return std::nullopt;
        }
    }
    LocalBlock subject;
    if (Decode(X509_UNICODE_NAME, info->Subject.pbData, info->Subject.cbData, subject)) {
        const CERT_NAME_INFO* name = subject.as<CERT_NAME_INFO>();
        for (DWORD r = 0; r < name->cRDN; ++r) {
            for (DWORD a = 0; a < name->rgRDN[r].cRDNAttr; ++a) {
                const CERT_RDN_ATTR& attr = name->rgRDN[r].rgRDNAttr[a];
                if (attr.pszObjId != nullptr &&
                    std::strcmp(attr.pszObjId, szOID_COMMON_NAME) == 0) {
                    // Under Wine cbData counts the string's terminator too.
                    names.commonNames.push_back(
                        DecodedName(WideToUtf8(reinterpret_cast<const wchar_t*>(attr.Value.pbData),
                                               attr.Value.cbData / sizeof(wchar_t))));
                }
            }
        }
    }
    return names;
}

// --- errors -----------------------------------------------------------------------------------

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) {
        LocalFree(text);
    }
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    char number[32];
    std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
    return message.empty() ? std::string("error ") + number : message + " (" + number + ")";
}

VbError TimedOut() {
    return {smtp_errors::kTimedOut, "The server did not answer in time."};
}

VbError Lost(int err) {
    return {smtp_errors::kConnectionLost,
            "The transport lost its connection to the server. " + SystemMessage(DWORD(err))};
}

VbError SecureChannelError(const std::string& what) {
    return {smtp_errors::kSecureChannelFailed,
            "The secure connection to the server failed: " + what};
}

std::string CertificateProblem(DWORD error) {
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        return "the server's certificate was not accepted (its issuer is not trusted)";
    case static_cast<DWORD>(CERT_E_CHAINING):
        return "the server's certificate was not accepted (no chain to a trusted root)";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "the server's certificate was not accepted (it is for another host name)";
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "the server's certificate was not accepted (it has expired)";
    default:
        return "the server's certificate was not accepted (" + SystemMessage(error) + ")";
    }
}

// The chain status bits that make a chain unacceptable; revocation is not checked, so its
// "unknown" bits do not count.
DWORD ChainProblems(DWORD status) {
    return status & ~DWORD(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
}

std::string ChainProblem(DWORD problems) {
    if (problems & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) {
        return CertificateProblem(DWORD(CERT_E_UNTRUSTEDROOT));
    }
    if (problems & CERT_TRUST_IS_NOT_TIME_VALID) {
        return CertificateProblem(DWORD(CERT_E_EXPIRED));
    }
    char text[96];
    std::snprintf(text, sizeof text,
                  "the server's certificate was not accepted (chain status 0x%08lX)",
                  static_cast<unsigned long>(problems));
    return text;
}

long RemainingMs(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<long>(std::min<long long>(left.count(), 1 << 30));
}

// Waits until s is readable (or writable); false at the deadline.
bool WaitFor(SOCKET s, bool write, Deadline deadline) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    const long ms = RemainingMs(deadline);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    const int n = select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
    return n != 0; // an error lets the next call report it
}

constexpr std::size_t kMaxPending = 1 << 20;
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

class Win32Transport final : public SmtpTransport {
public:
    Failure Connect(const std::string& host, const std::string& port, bool tls,
                    Deadline deadline) override {
        if (!winsock_.ok()) {
            return VbError{
                smtp_errors::kConnectFailed,
                "The transport failed to connect to the server. Winsock is not available."};
        }
        if (Failure f = ConnectTcp(host, port, deadline)) {
            return f;
        }
        return tls ? StartTls(host, deadline) : std::nullopt;
    }

    Outcome<std::size_t> Read(char* buffer, std::size_t size, Deadline deadline) override {
        if (!tls_) {
            return RawRead(buffer, size, deadline);
        }
        while (plain_.empty()) {
            if (closed_) {
                return std::size_t{0};
            }
            if (Failure f = DecryptPending(deadline)) {
                return *f;
            }
        }
        const std::size_t n = std::min(size, plain_.size());
        std::copy(plain_.begin(), plain_.begin() + std::ptrdiff_t(n), buffer);
        plain_.erase(plain_.begin(), plain_.begin() + std::ptrdiff_t(n));
        return n;
    }

    Failure Write(std::string_view data, Deadline deadline) override {
        if (!tls_) {
            return RawWrite(data, deadline);
        }
        while (!data.empty()) {
            const std::size_t n = std::min<std::size_t>(data.size(), sizes_.cbMaximumMessage);
            std::vector<char> record(sizes_.cbHeader + n + sizes_.cbTrailer);
            std::copy(data.begin(), data.begin() + std::ptrdiff_t(n),
                      record.begin() + sizes_.cbHeader);
            SecBuffer buffers[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {ULONG(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS ss = EncryptMessage(context_.get(), 0, &desc, 0);
            if (ss != SEC_E_OK) {
                return SecureChannelError("encryption: " + SystemMessage(DWORD(ss)));
            }
            const std::size_t total =
                buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
            if (Failure f = RawWrite(std::string_view(record.data(), total), deadline)) {
                return f;
            }
            data.remove_prefix(n);
        }
        return std::nullopt;
    }

    Failure StartTls(const std::string& host, Deadline deadline) override {
        if (tls_ || socket_.get() == INVALID_SOCKET) {
            return SecureChannelError("set-up: no plain connection to secure");
        }
        if (Failure f = AcquireCredentials()) {
            return f;
        }
        if (Failure f = Handshake(host, deadline, false)) {
            return f;
        }
        if (Failure f = VerifyServer(host)) {
            return f;
        }
        const SECURITY_STATUS ss =
            QueryContextAttributesA(context_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (ss != SEC_E_OK) {
            return SecureChannelError("stream sizes: " + SystemMessage(DWORD(ss)));
        }
        host_ = host;
        tls_ = true;
        return std::nullopt;
    }

    std::string LocalHostName() override {
        char name[256] = {};
        return winsock_.ok() && gethostname(name, sizeof name - 1) == 0 ? std::string(name)
                                                                        : std::string();
    }

private:
    Failure ConnectTcp(const std::string& host, const std::string& port, Deadline deadline) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
            return VbError{smtp_errors::kConnectFailed,
                           "The transport failed to connect to the server. " + host + ":" + port +
                               ": " + SystemMessage(DWORD(rc))};
        }
        int lastError = WSAECONNREFUSED;
        for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
            Socket s(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
            if (s.get() == INVALID_SOCKET) {
                lastError = WSAGetLastError();
                continue;
            }
            u_long nonBlocking = 1;
            ioctlsocket(s.get(), FIONBIO, &nonBlocking);
            if (connect(s.get(), a->ai_addr, int(a->ai_addrlen)) != 0) {
                const int e = WSAGetLastError();
                if (e != WSAEWOULDBLOCK) {
                    lastError = e;
                    continue;
                }
                if (!WaitFor(s.get(), true, deadline)) {
                    freeaddrinfo(found);
                    return TimedOut();
                }
                int err = 0;
                int len = sizeof err;
                getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
                if (err != 0) {
                    lastError = err;
                    continue;
                }
            }
            socket_ = std::move(s);
            freeaddrinfo(found);
            return std::nullopt;
        }
        freeaddrinfo(found);
        return VbError{smtp_errors::kConnectFailed,
                       "The transport failed to connect to the server. " + host + ":" + port +
                           ": " + SystemMessage(DWORD(lastError))};
    }

    Outcome<std::size_t> RawRead(char* buffer, std::size_t size, Deadline deadline) {
        for (;;) {
            const int n = recv(socket_.get(), buffer, int(std::min<std::size_t>(size, 1 << 20)), 0);
            if (n >= 0) {
                return std::size_t(n);
            }
            const int e = WSAGetLastError();
            if (e != WSAEWOULDBLOCK) {
                return Lost(e);
            }
            if (!WaitFor(socket_.get(), false, deadline)) {
                return TimedOut();
            }
        }
    }

    Failure RawWrite(std::string_view data, Deadline deadline) {
        while (!data.empty()) {
            const int n = send(socket_.get(), data.data(),
                               int(std::min<std::size_t>(data.size(), 1 << 20)), 0);
            if (n >= 0) {
                data.remove_prefix(std::size_t(n));
                continue;
            }
            const int e = WSAGetLastError();
            if (e != WSAEWOULDBLOCK) {
                return Lost(e);
            }
            if (!WaitFor(socket_.get(), true, deadline)) {
                return TimedOut();
            }
        }
        return std::nullopt;
    }

    // Appends what the server sent next to the undecrypted bytes; a close is an error here
    // because a TLS record or handshake message is unfinished.
    Failure ReceiveMore(Deadline deadline) {
        if (pending_.size() > kMaxPending) {
            return SecureChannelError("the server sent an oversized record");
        }
        char buffer[16 * 1024];
        Outcome<std::size_t> n = RawRead(buffer, sizeof buffer, deadline);
        if (!n) {
            return n.error();
        }
        if (n.value() == 0) {
            return VbError{smtp_errors::kConnectionLost,
                           "The transport lost its connection to the server."};
        }
        pending_.insert(pending_.end(), buffer, buffer + n.value());
        return std::nullopt;
    }

    Failure AcquireCredentials() {
        // TLS 1.3 where the system has it, else 1.2 alone; never anything older.
        for (DWORD protocols :
             {DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT), DWORD(SP_PROT_TLS1_2_CLIENT)}) {
            SCHANNEL_CRED cred{};
            cred.dwVersion = SCHANNEL_CRED_VERSION;
            cred.grbitEnabledProtocols = protocols;
            cred.dwFlags =
                SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
            TimeStamp expiry;
            const SECURITY_STATUS ss = AcquireCredentialsHandleA(
                nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &cred,
                nullptr, nullptr, credentials_.get(), &expiry);
            if (ss == SEC_E_OK) {
                return std::nullopt;
            }
            if (protocols == DWORD(SP_PROT_TLS1_2_CLIENT)) {
                return SecureChannelError("no TLS 1.2 credentials: " + SystemMessage(DWORD(ss)));
            }
        }
        return SecureChannelError("no TLS credentials");
    }

    // Runs the handshake from the current state until Schannel reports it complete. Bytes
    // after the handshake stay in pending_ for DecryptMessage.
    Failure Handshake(const std::string& host, Deadline deadline, bool started) {
        bool needInput = started && pending_.empty();
        for (;;) {
            if (needInput) {
                if (Failure f = ReceiveMore(deadline)) {
                    return f;
                }
            }
            SecBuffer in[2] = {{ULONG(pending_.size()), SECBUFFER_TOKEN, pending_.data()},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
            ULONG attributes = 0;
            const SECURITY_STATUS ss = InitializeSecurityContextA(
                credentials_.get(), started ? context_.get() : nullptr,
                const_cast<char*>(host.c_str()), kContextFlags, 0, 0, started ? &inDesc : nullptr,
                0, started ? nullptr : context_.get(), &outDesc, &attributes, nullptr);
            started = true;
            ContextBuffer token(out[0].pvBuffer);
            if (out[0].cbBuffer > 0 && out[0].pvBuffer != nullptr &&
                (ss == SEC_E_OK || ss == SEC_I_CONTINUE_NEEDED || FAILED(ss))) {
                Failure f = RawWrite(
                    std::string_view(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer),
                    deadline);
                if (f && !FAILED(ss)) {
                    return f;
                }
            }
            if (ss == SEC_E_INCOMPLETE_MESSAGE) {
                needInput = true;
                continue;
            }
            if (ss == SEC_E_OK || ss == SEC_I_CONTINUE_NEEDED ||
                ss == SEC_I_INCOMPLETE_CREDENTIALS) {
                if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
                    pending_.erase(pending_.begin(),
                                   pending_.end() - std::ptrdiff_t(in[1].cbBuffer));
                } else {
                    pending_.clear();
                }
                if (ss == SEC_E_OK) {
                    return std::nullopt;
                }
                needInput = pending_.empty();
                continue;
            }
            if (ss == SEC_E_UNTRUSTED_ROOT || ss == SEC_E_CERT_UNKNOWN ||
                ss == SEC_E_WRONG_PRINCIPAL || ss == SEC_E_CERT_EXPIRED) {
                return SecureChannelError("the server's certificate was not accepted (" +
                                          SystemMessage(DWORD(ss)) + ")");
            }
            return SecureChannelError("handshake: " + SystemMessage(DWORD(ss)));
        }
    }

    Failure VerifyServer(const std::string& host) {
        SecPkgContext_ConnectionInfo info{};
        if (QueryContextAttributesA(context_.get(), SECPKG_ATTR_CONNECTION_INFO, &info) ==
                SEC_E_OK &&
            (info.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0) {
            return SecureChannelError("the server offers no protocol newer than TLS 1.1");
        }
        CertContext remote;
        SECURITY_STATUS ss =
            QueryContextAttributesA(context_.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, remote.out());
        if (ss != SEC_E_OK || remote.get() == nullptr) {
            return SecureChannelError("the server sent no certificate");
        }
        LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
        CERT_CHAIN_PARA chainPara{};
        chainPara.cbSize = sizeof chainPara;
        chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
        chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
        chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        CertChain chain;
        if (!CertGetCertificateChain(nullptr, remote.get(), nullptr, remote.get()->hCertStore,
                                     &chainPara, 0, nullptr, chain.out())) {
            return SecureChannelError(CertificateProblem(GetLastError()));
        }
        // The chain's own status first: the SSL policy of some systems (Wine's among them)
        // passes a chain that ends below any trusted root.
        if (const DWORD problems = ChainProblems(chain.get()->TrustStatus.dwErrorStatus)) {
            return SecureChannelError(ChainProblem(problems));
        }
        // The policy checks trust and usage only; the name is checked below by the rule the
        // POSIX build applies too, since the system's own name match differs between versions.
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = nullptr;
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy,
                                              &status)) {
            return SecureChannelError(CertificateProblem(GetLastError()));
        }
        if (status.dwError != 0) {
            return SecureChannelError(CertificateProblem(status.dwError));
        }
        const std::optional<CertificateNames> names = NamesOf(remote.get());
        if (!names) {
            return SecureChannelError(
                "the server's certificate was not accepted (its subjectAltName cannot be read)");
        }
        if (!CertificateMatchesHost(*names, host)) {
            return SecureChannelError(CertificateProblem(DWORD(CERT_E_CN_NO_MATCH)));
        }
        return std::nullopt;
    }

    // Decrypts the next record into plain_, reading from the server as needed.
    Failure DecryptPending(Deadline deadline) {
        for (;;) {
            if (pending_.empty()) {
                char buffer[16 * 1024];
                Outcome<std::size_t> n = RawRead(buffer, sizeof buffer, deadline);
                if (!n) {
                    return n.error();
                }
                if (n.value() == 0) {
                    closed_ = true; // the server closed between records
                    return std::nullopt;
                }
                pending_.insert(pending_.end(), buffer, buffer + n.value());
            }
            SecBuffer buffers[4] = {{ULONG(pending_.size()), SECBUFFER_DATA, pending_.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS ss = DecryptMessage(context_.get(), &desc, 0, nullptr);
            if (ss == SEC_E_INCOMPLETE_MESSAGE) {
                if (Failure f = ReceiveMore(deadline)) {
                    return f;
                }
                continue;
            }
            if (ss == SEC_I_CONTEXT_EXPIRED) {
                closed_ = true; // close_notify
                return std::nullopt;
            }
            if (ss != SEC_E_OK && ss != SEC_I_RENEGOTIATE) {
                return SecureChannelError("decryption: " + SystemMessage(DWORD(ss)));
            }
            std::vector<char> extra;
            for (const SecBuffer& b : buffers) {
                if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
                    const char* p = static_cast<const char*>(b.pvBuffer);
                    plain_.insert(plain_.end(), p, p + b.cbBuffer);
                } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
                    const char* p = static_cast<const char*>(b.pvBuffer);
                    extra.assign(p, p + b.cbBuffer);
                }
            }
            pending_ = std::move(extra);
            if (ss == SEC_I_RENEGOTIATE) {
                // Post-handshake messages (TLS 1.3 tickets, key updates) go back to Schannel.
                if (Failure f = Handshake(host_, deadline, true)) {
                    return f;
                }
            }
            if (!plain_.empty()) {
                return std::nullopt;
            }
        }
    }

    win32::WinsockSession winsock_;
    Socket socket_;
    Credentials credentials_;
    SecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> pending_; // received, not yet decrypted
    std::vector<char> plain_;   // decrypted, not yet read
    std::string host_;
    bool tls_ = false;
    bool closed_ = false;
};

} // namespace

std::unique_ptr<SmtpTransport> MakeSmtpTransport() {
    return std::make_unique<Win32Transport>();
}

} // namespace modSendEmail
