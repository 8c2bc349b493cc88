#include "tests/support/SmtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json.hpp>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tests/support/Child.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"

namespace vlibtest {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(10);

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell script in `folder`; throws when it fails.
void RunShell(const std::string& script, const fs::path& folder) {
    if (!RunPeer({"/bin/sh", "-c", "cd '" + folder.string() + "' && { " + script + "} 2>openssl.log"})) {
        throw std::runtime_error("openssl failed: " + ReadFile(folder / "openssl.log"));
    }
}

// Makes the certificates in `dir`; "complete" is written last.
void MakeCertificates(const fs::path& dir) {
    // EC keys: quick to make.  Each server certificate is issued for the
    // names in its extension file.
    RunShell(
        "set -e\n"
        "key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \"$@\"; }\n"
        "ca() { key -x509 -days 3 -keyout $1.key -out $1.pem -subj \"/CN=$2\" "
        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign; }\n"
        "issue() { printf 'subjectAltName=%s\\nbasicConstraints=CA:FALSE\\nextendedKeyUsage=serverAuth\\n' \"$3\" "
        "> $1.ext; key -keyout $1.key -out $1.csr -subj /CN=test.smtp; "
        "openssl x509 -req -in $1.csr -CA $2.pem -CAkey $2.key -CAcreateserial -days 3 -out $1.pem "
        "-extfile $1.ext; }\n"
        "ca ca 'VLib Test CA'; ca rogue 'Rogue CA'\n"
        "issue server ca IP:127.0.0.1,DNS:localhost\n"
        "issue wrongname ca DNS:other.example\n"
        "issue untrusted rogue IP:127.0.0.1,DNS:localhost\n"
        "touch complete\n",
        dir);
}

// A folder of this user's, not writable by others, holding a complete set.
bool UsableCertificateFolder(const fs::path& dir) {
    struct stat info {};
    return lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && fs::exists(dir / "complete");
}

// The folder of the certificates: one per user and day, shared by the test
// processes (every mail test runs in a process of its own, and making the
// keys costs more than most tests).  Made in a private folder and renamed
// into place, so a process sees a complete set or none; when two processes
// race, the loser uses the winner's set.  Folders older than yesterday's
// are removed (a run that began yesterday may still use yesterday's).
fs::path CertificateFolder() {
    const std::string prefix = "vlib-test-certificates-" + std::to_string(getuid()) + "-";
    const auto day = std::chrono::duration_cast<std::chrono::days>(std::chrono::system_clock::now().time_since_epoch());
    const fs::path shared = fs::temp_directory_path() / (prefix + std::to_string(day.count()));
    if (UsableCertificateFolder(shared)) return shared;
    const TempDir made;
    MakeCertificates(made.Path());
    std::error_code error;
    fs::rename(made.Path(), shared, error);
    if (!UsableCertificateFolder(shared)) throw std::runtime_error("no usable folder for the test certificates");
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && std::atoll(name.c_str() + prefix.size()) < day.count() - 1) {
            fs::remove_all(entry.path(), error);
        }
    }
    return shared;
}

}  // namespace

SmtpServer::SmtpServer(SmtpServerOptions options)
    : m_options(std::move(options)), m_state(std::make_unique<TempDir>()) {
    const fs::path state = m_state->Path();
    std::vector<std::string> argv = {"/bin/sh",
                                     "-c",
                                     "exec \"$@\" 2>\"$0\"",
                                     (state / "server.log").string(),
                                     kPython,
                                     VLIB_SMTP_SERVER_SCRIPT,
                                     "--state",
                                     state.string()};
    using Mode = SmtpServerOptions::Mode;
    static const char* const kModes[] = {"plain", "starttls", "tls", "silent"};
    argv.insert(argv.end(), {"--mode", kModes[static_cast<int>(m_options.mode)]});
    if (m_options.mode == Mode::StartTls || m_options.mode == Mode::ImplicitTls) {
        argv.insert(argv.end(), {"--cert", m_options.certificate, "--key", m_options.key});
    }
    if (!m_options.auth.empty()) argv.insert(argv.end(), {"--auth", m_options.auth});
    argv.insert(argv.end(), {"--mechanisms", m_options.mechanisms});
    if (m_options.refuseLogin) argv.push_back("--refuse-login");
    if (m_options.refuseRecipient) argv.push_back("--refuse-recipient");
    if (m_options.rejectData) argv.push_back("--reject-data");
    if (m_options.hold) argv.push_back("--hold");
    if (m_options.dropReused) argv.push_back("--drop-reused");

    m_server = Child::Start(argv);
    if (!m_server) throw std::runtime_error("cannot start the SMTP server");
    const auto line = m_server->ReadLine(kStartLimit);
    if (!line || !line->starts_with("PORT ")) {
        Stop();
        throw std::runtime_error("the SMTP server did not start: " + ReadFile(state / "server.log"));
    }
    m_port = std::atoi(line->c_str() + 5);
}

SmtpServer::~SmtpServer() {
    Stop();
}

// The server ends at the end of its input; it is killed when it has not
// ended within kStopLimit.
void SmtpServer::Stop() {
    if (!m_server) return;
    m_server->CloseInput();
    m_server->Wait(kStopLimit);
    m_server.reset();
}

void SmtpServer::Release() {
    if (!m_server->WriteLine("release")) throw std::runtime_error("the SMTP server is gone");
}

void SmtpServer::Hold() {
    if (!m_server->WriteLine("hold")) throw std::runtime_error("the SMTP server is gone");
}

std::vector<ReceivedMail> SmtpServer::Messages() const {
    std::vector<ReceivedMail> messages;
    for (int n = 1;; ++n) {
        const fs::path meta = m_state->Path() / (std::to_string(n) + ".json");
        if (!fs::exists(meta)) break;
        const auto json = boost::json::parse(ReadFile(meta)).as_object();
        ReceivedMail mail;
        mail.bytes = ReadFile(m_state->Path() / (std::to_string(n) + ".eml"));
        mail.mailFrom = json.at("mail_from").as_string().c_str();
        for (const auto& to : json.at("rcpt_tos").as_array()) mail.recipients.emplace_back(to.as_string().c_str());
        mail.authenticated = json.at("authenticated").as_bool();
        mail.login = json.at("login").as_string().c_str();
        mail.mechanism = json.at("mechanism").as_string().c_str();
        mail.tls = json.at("tls").as_bool();
        messages.push_back(std::move(mail));
    }
    return messages;
}

bool SmtpServer::WaitForMessages(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const fs::path last = m_state->Path() / (std::to_string(count) + ".json");
    while (count > 0 && !fs::exists(last)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int SmtpServer::Connections() const {
    return std::atoi(ReadFile(m_state->Path() / "connections").c_str());
}

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates certificates = [] {
        const fs::path dir = CertificateFolder();
        const auto file = [&](const char* name) { return (dir / name).string(); };
        return TestCertificates{file("ca.pem"),        file("server.pem"),    file("server.key"),
                                file("wrongname.pem"), file("wrongname.key"), file("untrusted.pem"),
                                file("untrusted.key")};
    }();
    return certificates;
}

int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace vlibtest
