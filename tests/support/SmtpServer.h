// A real SMTP server for the mail tests and benchmarks: aiosmtpd under
// Debian's /usr/bin/python3 (tests/support/smtp_server.py), on 127.0.0.1 and
// a port of its own, storing every accepted message with its envelope and
// its log-in and TLS state.  Certificates for its TLS modes come from a test
// CA made with the openssl command-line tool.  Throughput benchmarks that
// need a faster plain server use SmtpSink.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vlibtest {

class Child;
class TempDir;

struct SmtpServerOptions {
    enum class Mode { Plain, StartTls, ImplicitTls, Silent };
    Mode mode = Mode::Plain;
    // "user:password" accepted by AUTH, which is offered (and required) only
    // with it.
    std::string auth;
    std::string mechanisms = "LOGIN,PLAIN";
    bool refuseLogin = false;
    bool refuseRecipient = false;
    bool rejectData = false;
    // DATA is answered only after Release().
    bool hold = false;
    // The connection is dropped at the second MAIL of a session.
    bool dropReused = false;
    // For the TLS modes: PEM files of the certificate chain and key.
    std::string certificate;
    std::string key;
};

struct ReceivedMail {
    std::string bytes;
    std::string mailFrom;
    std::vector<std::string> recipients;
    bool authenticated = false;
    std::string login;
    std::string mechanism;
    bool tls = false;
};

class SmtpServer {
public:
    // Starts the server; throws std::runtime_error when it does not come up.
    explicit SmtpServer(SmtpServerOptions options);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    int Port() const { return m_port; }
    // The messages accepted so far, in order.
    std::vector<ReceivedMail> Messages() const;
    // Waits until `count` messages are stored; false when `timeout` passes.
    bool WaitForMessages(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    int Connections() const;
    // Lets held messages through, and every later one.
    void Release();
    // Holds the messages that come from now on, until Release.
    void Hold();

private:
    void Stop();

    SmtpServerOptions m_options;
    std::unique_ptr<TempDir> m_state;
    std::unique_ptr<Child> m_server;
    int m_port = 0;
};

// PEM files made once a day per user in a temporary folder: a test CA, a
// certificate for 127.0.0.1 and localhost issued by it, one for another
// name issued by it, and one for 127.0.0.1 issued by a CA nobody trusts.
struct TestCertificates {
    std::string caFile;
    std::string serverCertificate, serverKey;
    std::string wrongNameCertificate, wrongNameKey;
    std::string untrustedCertificate, untrustedKey;

    static const TestCertificates& Get();
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort();

}  // namespace vlibtest
