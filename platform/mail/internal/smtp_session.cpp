// SMTP sessions over libcurl: settings to options, the ROOT store as the
// trusted certificates, the transcript, the retry on a reused session.
#include "platform/mail/internal/SmtpSession.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/crypt/Crypt.h"
#include "platform/internal/Syscalls.h"

namespace vplatform::mail {
namespace {

constexpr int kDefaultPort = 25;
constexpr int kDefaultTlsPort = 465;
// The whole send may take the connect limit, six read limits (greeting,
// EHLO, STARTTLS, log-in, envelope, end of data) and a second per this many
// bytes of message.
constexpr int kReadLimitsPerSend = 6;
constexpr long long kSlowestBytesPerSecond = 16 * 1024;
// AbortCheck is asked at most this often.
constexpr auto kAbortCheckInterval = std::chrono::milliseconds(250);
// The transcript keeps the last lines of the dialogue, each shortened.
constexpr std::size_t kTranscriptLines = 40;
constexpr std::size_t kTranscriptLineLength = 300;

std::size_t ReadCallback(char* buffer, std::size_t size, std::size_t count, void* session) {
    return static_cast<SmtpSession*>(session)->Read(buffer, size * count);
}

int ProgressCallback(void* session, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploadNow) {
    return static_cast<SmtpSession*>(session)->Progress(uploadTotal, uploadNow);
}

int DebugCallback(CURL*, curl_infotype type, char* data, std::size_t size, void* session) {
    if (type == CURLINFO_HEADER_IN || type == CURLINFO_HEADER_OUT) {
        static_cast<SmtpSession*>(session)->Transcribe(type == CURLINFO_HEADER_IN, data, size);
    }
    return 0;
}

curl_socket_t OpenSocketCallback(void* session, curlsocktype, struct curl_sockaddr* address) {
    const int fd =
        static_cast<SmtpSession*>(session)->OpenSocket(address->family, address->socktype, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int CloseSocketCallback(void* session, curl_socket_t fd) {
    return static_cast<SmtpSession*>(session)->CloseSocket(fd);
}

bool IsHostChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

// The URL of the server, or empty when the host or port cannot be used
// (which `error` then says).  Only names, IPv4 and IPv6 literals pass, so no
// text of the host can change the URL's meaning.
std::string ServerUrl(const SmtpSettings& settings, std::string& error) {
    std::string host = settings.host;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) {
        error = "No SMTP server is set.";
        return {};
    }
    const bool ipv6 = host.find(':') != std::string::npos;
    const bool valid =
        host.size() <= 253 && std::all_of(host.begin(), host.end(), [ipv6](char c) {
            return ipv6 ? (std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.') : IsHostChar(c);
        });
    if (!valid) {
        error = "The SMTP server name is not valid.";
        return {};
    }
    int port = settings.port;
    if (port == 0) port = settings.ssl ? kDefaultTlsPort : kDefaultPort;
    if (port < 1 || port > 65535) {
        error = "The SMTP port " + std::to_string(settings.port) + " is not valid.";
        return {};
    }
    return std::string(settings.ssl ? "smtps://" : "smtp://") + (ipv6 ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

// A line of the dialogue as it may be shown: printable, shortened.
std::string Printable(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::string out = WellFormedUtf8(line.substr(0, kTranscriptLineLength));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view head) {
    if (text.size() < head.size()) return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != head[i]) return false;
    }
    return true;
}

}  // namespace

SmtpSession::SmtpSession() = default;

SmtpSession::~SmtpSession() {
    Close();
}

void SmtpSession::Abort() noexcept {
    m_aborted.store(true);
    std::lock_guard guard(m_socketLock);
    for (const int fd : m_sockets) Sys().shutdown(fd, SHUT_RDWR);
}

void SmtpSession::Close() noexcept {
    if (m_curl != nullptr) {
        // After an abort the sockets are shut down, so the QUIT that the
        // cleanup sends fails at once instead of waiting for a reply.
        curl_easy_cleanup(m_curl);
        m_curl = nullptr;
    }
    curl_slist_free_all(m_recipients);
    m_recipients = nullptr;
    m_settings.reset();
}

std::size_t SmtpSession::Read(char* buffer, std::size_t size) {
    const std::size_t n = std::min(size, m_mime->size() - m_sent);
    std::memcpy(buffer, m_mime->data() + m_sent, n);
    m_sent += n;
    return n;
}

int SmtpSession::Progress(long long uploadTotal, long long uploadNow) {
    if (m_aborted.load() || m_control->ShouldAbort()) return 1;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastAbortCheck >= kAbortCheckInterval) {
        m_lastAbortCheck = now;
        if (m_control->AbortCheck()) return 1;
    }
    if (uploadTotal > 0) {
        const int percent = static_cast<int>(uploadNow * 100 / uploadTotal);
        if (percent != m_lastPercent) {
            m_lastPercent = percent;
            if (m_control->PercentDone(percent)) return 1;
        }
    }
    return 0;
}

void SmtpSession::Transcribe(bool incoming, const char* data, std::size_t size) {
    std::string_view text(data, size);
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size() - 1);
        const std::string_view line = text.substr(0, end + 1);
        text.remove_prefix(end + 1);
        std::string shown;
        if (incoming) {
            // A 334 reply asks for log-in data: the next command carries it.
            m_challenged = line.starts_with("334");
            shown = "S: " + Printable(line);
        } else if (m_challenged) {
            shown = "C: ***";
        } else if (StartsWithNoCase(line, "AUTH ")) {
            const std::string_view rest = line.substr(5);
            const std::size_t mechanism = std::min(rest.find_first_of(" \r\n"), rest.size());
            const bool more = rest.substr(mechanism).find_first_not_of(" \r\n") != std::string_view::npos;
            shown = "C: AUTH " + Printable(rest.substr(0, mechanism)) + (more ? " ***" : "");
        } else {
            shown = "C: " + Printable(line);
        }
        m_transcript.push_back(std::move(shown));
        if (m_transcript.size() > kTranscriptLines) m_transcript.pop_front();
    }
}

int SmtpSession::OpenSocket(int family, int type, int protocol) {
    const int fd = Sys().socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        m_socketErrno = errno;
        return -1;
    }
    std::lock_guard guard(m_socketLock);
    m_sockets.push_back(fd);
    return fd;
}

int SmtpSession::CloseSocket(int fd) {
    {
        std::lock_guard guard(m_socketLock);
        std::erase(m_sockets, fd);
    }
    return Sys().close(fd);
}

bool SmtpSession::Configure(const SmtpSettings& settings, std::string& error) {
    const std::string url = ServerUrl(settings, error);
    if (url.empty()) return false;
    m_curl = curl_easy_init();
    if (m_curl == nullptr) {
        error = "No SMTP session can be made (out of memory).";
        return false;
    }
    CURL* const curl = m_curl;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // No proxy, whatever the environment says.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USE_SSL, settings.ssl || settings.startTls ? CURLUSESSL_ALL : CURLUSESSL_NONE);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    if (!settings.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.Get().c_str());
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=PLAIN;AUTH=LOGIN");
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout) * 1000L);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(settings.readTimeout));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(settings.readTimeout));
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadCallback);
    curl_easy_setopt(curl, CURLOPT_READDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, DebugCallback);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSocketCallback);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, CloseSocketCallback);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, m_errorBuffer);
    return true;
}

bool SmtpSession::LoadRoots(std::string& error) {
    const HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) {
        error = "The trusted root certificates cannot be read (error " + std::to_string(GetLastError()) + ").";
        return false;
    }
    std::string pem;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        pem += "-----BEGIN CERTIFICATE-----\r\n";
        pem += EncodeBase64(
            std::string_view(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded), 64);
        pem += "\r\n-----END CERTIFICATE-----\r\n";
    }
    CertCloseStore(store, 0);
    curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(m_curl, CURLOPT_CAINFO_BLOB, &blob);
    return true;
}

int SmtpSession::Perform(bool fresh, const SmtpSettings& settings, std::string& error) {
    bool connected;
    {
        std::lock_guard guard(m_socketLock);
        connected = !m_sockets.empty();
    }
    // A new connection trusts the ROOT store as it is now.
    if ((fresh || !connected) && (settings.ssl || settings.startTls) && !LoadRoots(error)) return -1;
    curl_easy_setopt(m_curl, CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);
    m_sent = 0;
    m_lastPercent = -1;
    m_socketErrno = 0;
    m_challenged = false;
    m_transcript.clear();
    m_errorBuffer[0] = '\0';
    return curl_easy_perform(m_curl);
}

std::string SmtpSession::Failure(int code, long reply, const std::string& reason) const {
    std::string text = "The message was not sent: ";
    if (!reason.empty()) {
        text += reason;
    } else {
        text += m_errorBuffer[0] != '\0' ? m_errorBuffer : curl_easy_strerror(static_cast<CURLcode>(code));
        if (m_socketErrno != 0) text += std::string(" (") + std::strerror(m_socketErrno) + ")";
        if (reply >= 400) text += " (SMTP reply " + std::to_string(reply) + ")";
        if (!text.ends_with('.')) text += '.';
    }
    if (!m_transcript.empty()) {
        text += "\r\nSMTP dialogue:";
        for (const std::string& line : m_transcript) text += "\r\n" + line;
    }
    return text;
}

SendResult SmtpSession::Send(const EmailData& email, const std::string& mime,
                             const std::shared_ptr<const SmtpSettings>& settings, SendControl& control) {
    SendResult result;
    m_aborted.store(false);
    if (m_curl != nullptr && !m_settings->SameSession(*settings)) Close();
    std::string error;
    if (m_curl == nullptr) {
        if (!Configure(*settings, error)) {
            Close();
            result.error = Failure(0, 0, error);
            return result;
        }
        m_settings = settings;
    }
    m_mime = &mime;
    m_control = &control;
    m_lastAbortCheck = std::chrono::steady_clock::now();

    curl_easy_setopt(m_curl, CURLOPT_MAIL_FROM, ("<" + email.from.address + ">").c_str());
    curl_slist_free_all(m_recipients);
    m_recipients = nullptr;
    for (const Mailbox& to : email.to) {
        curl_slist* const list = curl_slist_append(m_recipients, ("<" + to.address + ">").c_str());
        if (list != nullptr) m_recipients = list;
    }
    curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT, m_recipients);
    curl_easy_setopt(m_curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(mime.size()));
    const long long ceiling = (static_cast<long long>(settings->connectTimeout) +
                               kReadLimitsPerSend * static_cast<long long>(settings->readTimeout) +
                               static_cast<long long>(mime.size()) / kSlowestBytesPerSecond) *
                              1000;
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS, static_cast<long>(ceiling));

    const int port = settings->port != 0 ? settings->port : settings->ssl ? kDefaultTlsPort : kDefaultPort;
    const std::string server = settings->host + ":" + std::to_string(port);
    control.Info("SmtpHost", server.c_str());
    int code = Perform(false, *settings, error);
    if (code > 0) {
        long connects = 0, reply = 0;
        curl_easy_getinfo(m_curl, CURLINFO_NUM_CONNECTS, &connects);
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &reply);
        // A kept session that the server has dropped fails before the
        // message goes out; a refusal (a 4xx or 5xx reply other than 421,
        // "closing") would only repeat.
        const bool refused = reply >= 400 && reply != 421;
        const bool retry = connects == 0 && m_sent == 0 && !refused && !m_aborted.load() &&
                           code != CURLE_ABORTED_BY_CALLBACK && code != CURLE_OPERATION_TIMEDOUT;
        if (retry) {
            control.Info("SmtpRetry", "new session");
            code = Perform(true, *settings, error);
        }
    }
    long reply = 0;
    if (code > 0) curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &reply);
    m_mime = nullptr;
    m_control = nullptr;
    if (code == CURLE_OK) {
        result.delivered = true;
        return result;
    }
    if (m_aborted.load() || code == CURLE_ABORTED_BY_CALLBACK) error = "The send was cancelled.";
    result.error = Failure(code, reply, error);
    // A failed session is not kept: it may be broken or half-way through a
    // dialogue.  Shutting its sockets down first spares the wait for a reply
    // to QUIT from a server that no longer answers.
    Abort();
    Close();
    return result;
}

}  // namespace vplatform::mail
