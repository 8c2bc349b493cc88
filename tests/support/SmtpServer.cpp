#include "tests/support/SmtpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

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

fs::path MakeTempFolder(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    return pattern;
}

// Runs `argv` with standard input and output on pipes (stderr to `errors`);
// returns the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, int& input, int& output, const fs::path& errors) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (failed != 0) {
        close(in[1]);
        close(out[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    input = in[1];
    output = out[0];
    return pid;
}

// Waits for the child to end, killing it after `limit`.
void Reap(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs a shell script; throws when it fails.
void RunShell(const std::string& script, const fs::path& folder) {
    int input = -1, output = -1;
    const pid_t pid =
        Spawn({"/bin/sh", "-c", "cd '" + folder.string() + "' && " + script}, input, output, folder / "openssl.log");
    close(input);
    char buffer[256];
    while (read(output, buffer, sizeof buffer) > 0) {
    }
    close(output);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
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
    const fs::path made = MakeTempFolder("vlib-mail-ca-");
    MakeCertificates(made);
    std::error_code error;
    fs::rename(made, shared, error);
    if (error) fs::remove_all(made, error);
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
    : m_options(std::move(options)), m_state(MakeTempFolder("vlib-smtp-")) {
    try {
        Start(0);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(m_state, ignored);
        throw;
    }
}

SmtpServer::~SmtpServer() {
    Stop();
    std::error_code ignored;
    fs::remove_all(m_state, ignored);
}

void SmtpServer::Start(int port) {
    std::vector<std::string> argv = {kPython,  VLIB_SMTP_SERVER_SCRIPT, "--state", m_state.string(),
                                     "--port", std::to_string(port)};
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

    int output = -1;
    m_pid = Spawn(argv, m_input, output, m_state / "server.log");
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{output, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char buffer[64];
        const ssize_t n = read(output, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    close(output);
    if (!line.starts_with("PORT ")) {
        Stop();
        throw std::runtime_error("the SMTP server did not start: " + ReadFile(m_state / "server.log"));
    }
    m_port = std::atoi(line.c_str() + 5);
}

void SmtpServer::Stop() {
    if (m_pid < 0) return;
    close(m_input);
    m_input = -1;
    Reap(m_pid, kStopLimit);
    m_pid = -1;
}

void SmtpServer::Restart() {
    const int port = m_port;
    Stop();
    Start(port);
}

void SmtpServer::Release() {
    static constexpr char kRelease[] = "release\n";
    if (write(m_input, kRelease, sizeof kRelease - 1) < 0) throw std::runtime_error("the SMTP server is gone");
}

void SmtpServer::Hold() {
    static constexpr char kHold[] = "hold\n";
    if (write(m_input, kHold, sizeof kHold - 1) < 0) throw std::runtime_error("the SMTP server is gone");
}

std::vector<ReceivedMail> SmtpServer::Messages() const {
    std::vector<ReceivedMail> messages;
    for (int n = 1;; ++n) {
        const fs::path meta = m_state / (std::to_string(n) + ".json");
        if (!fs::exists(meta)) break;
        const auto json = boost::json::parse(ReadFile(meta)).as_object();
        ReceivedMail mail;
        mail.bytes = ReadFile(m_state / (std::to_string(n) + ".eml"));
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
    const fs::path last = m_state / (std::to_string(count) + ".json");
    while (count > 0 && !fs::exists(last)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int SmtpServer::Connections() const {
    return std::atoi(ReadFile(m_state / "connections").c_str());
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
