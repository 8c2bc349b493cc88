// vtools mail send: one message composed by ChilkatMailManager and sent in
// the background by the platform's mail client, waited for; and the demo's
// mail line, sent to an in-process sink.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include <VLibIncludes.h>

#include "Command.h"
#include "SmtpSink.h"

namespace vtools {
namespace {

namespace fs = std::filesystem;

// Composes the message as the manager does.
class MailComposer : public ChilkatMailManager {
public:
    void Compose(const ChilkatMailDefine& mail, CkEmail& email) { CreateCkEmail(mail, email); }
};

// Shows how much of the message has gone out, on a terminal only.
class SendProgress : public CkMailManProgress {
public:
    explicit SendProgress(std::size_t bytes) : m_show(bytes >= 256 * 1024 && StandardErrorIsTerminal()) {}
    ~SendProgress() override {
        if (m_shown) std::cerr << "\r" << std::string(40, ' ') << "\r" << std::flush;
    }
    bool PercentDone(int percent) override {
        if (m_show) {
            std::cerr << "\rsending: " << percent << "%" << std::flush;
            m_shown = true;
        }
        return false;
    }

private:
    const bool m_show;
    bool m_shown = false;
};

// The transport's reason in a few words, from the first line of the mail
// client's error text (the rest is the SMTP dialogue).
std::string ShortReason(const std::string& text) {
    struct Kind {
        const char* found;
        const char* reason;
    };
    static const Kind kinds[] = {
        {"refused", "the connection was refused"},
        {"couldn't connect", "the connection was refused (or the server cannot be reached)"},
        {"timed out", "timed out"},
        {"timeout", "timed out"},
        {"certificate", "the server's certificate is not trusted"},
        {"resolve", "the server's name was not resolved"},
        {"smtp reply 5", "the server refused the message or the log-in"},
        {"smtp reply 4", "the server refused the message for now"},
        {"login denied", "the server refused the log-in"},
    };
    std::string lower = text.substr(0, text.find_first_of("\r\n"));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const Kind& kind : kinds) {
        if (lower.find(kind.found) != std::string::npos) return kind.reason;
    }
    return "the send failed";
}

// Opens the log on a file of its own for the duration of a command, so that
// the manager's entries can be shown; removes it afterwards.
class CommandLog {
public:
    CommandLog() : m_temporary(L"vtools-mail-"), m_folder(m_temporary.Path()) {
        if (!VTools::Log::Instance().Open(FromTerminal((m_folder / "log.txt").string()))) {
            throw InputError("cannot open a log in " + m_folder.string());
        }
    }
    ~CommandLog() { VTools::Log::Instance().Close(); }
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    // The messages written so far (ANSI code page), in order.
    std::vector<std::string> Messages() const {
        VTools::Log::Instance().Flush();
        const std::string bytes = ReadInput((m_folder / "log.txt").string());
        std::vector<std::string> messages;
        std::size_t at = 0;
        for (std::size_t end; (end = bytes.find("\r\n-\r\n", at)) != std::string::npos; at = end + 5) {
            const std::size_t message = bytes.find("\r\n", at);
            if (message < end) messages.push_back(bytes.substr(message + 2, end - message - 2));
        }
        return messages;
    }

private:
    TemporaryFolder m_temporary;
    fs::path m_folder;
};

std::string Ansi(const std::string& terminalText) {
    return VTools::String::WideToAnsi(FromTerminal(terminalText));
}

std::string Shown(const std::string& ansiText) {
    return ToTerminal(VTools::String::AnsiToWide(ansiText));
}

std::string FirstLine(const std::string& text) {
    const std::size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

// The password from the first line of `file`, which only its owner may read
// or write: a password others can read is no secret, and one others can
// write is not the user's (ssh refuses such key files too).
std::string PasswordFromFile(const std::string& file) {
    if (file.empty() || file == "-") return FirstLine(ReadInput(file));
    std::error_code error;
    const fs::perms permissions = fs::status(file, error).permissions();
    if (error) throw InputError("cannot read the password file " + file);
    const fs::perms others = fs::perms::group_all | fs::perms::others_all;
    if ((permissions & others) != fs::perms::none) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(permissions & fs::perms::mask));
        throw InputError("the password file " + file + " is open to other users (mode " + mode +
                         "); allow only its owner (chmod 600)");
    }
    return FirstLine(ReadInput(file));
}

int Send(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "send") throw UsageError("expected 'send' (see vtools mail --help)");
    ChilkatMailSettingsDefine settings;
    ChilkatMailDefine mail;
    std::string security = "none";
    std::optional<std::string> password, port, body;
    std::optional<int> timeout;
    std::vector<std::string> attachments;
    bool dryRun = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--dry-run") {
            dryRun = true;
            continue;
        }
        if (option == "--password")
            throw UsageError("passwords are not taken on the command line; use --password-env or --password-file");
        if (i + 1 >= args.size()) throw UsageError("option '" + option + "' needs a value");
        const std::string& value = args[++i];
        if (option == "--server") {
            settings.host = Ansi(value);
        } else if (option == "--to") {
            mail.recipient = Ansi(value);
        } else if (option == "--port") {
            port = value;
        } else if (option == "--security") {
            security = value;
        } else if (option == "--user") {
            settings.userName = Ansi(value);
        } else if (option == "--password-env") {
            const char* text = std::getenv(value.c_str());
            if (text == nullptr) throw InputError("the environment variable " + value + " is not set");
            password = Ansi(text);
        } else if (option == "--password-file") {
            password = Ansi(PasswordFromFile(value));
        } else if (option == "--from") {
            mail.senderName = Ansi(value);
        } else if (option == "--subject") {
            mail.subject = Ansi(value);
        } else if (option == "--body") {
            body = Ansi(value);
        } else if (option == "--body-file") {
            body = Ansi(ReadInput(value));
        } else if (option == "--attach") {
            attachments.push_back(value);
            mail.attachments.push_back(Ansi(value));
        } else if (option == "--timeout") {
            char* end = nullptr;
            const long seconds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || seconds < 1 || seconds > 3600)
                throw UsageError("--timeout: '" + value + "' is no number of seconds from 1 to 3600");
            timeout = static_cast<int>(seconds);
        } else if (option == "--ca-file") {
            vplatformSetRootCertificateFile(value.c_str());
        } else {
            throw UsageError("unknown option '" + option + "'");
        }
    }
    if (settings.host.empty()) throw UsageError("--server is required");
    if (mail.recipient.empty()) throw UsageError("--to is required");
    if (security == "none") {
        settings.security = 0;
    } else if (security == "tls") {
        settings.security = 1;
    } else if (security == "starttls") {
        settings.security = 2;
    } else {
        throw UsageError("--security is none, tls or starttls");
    }
    settings.port = settings.security == 1 ? 465 : settings.security == 2 ? 587 : 25;
    if (port) {
        char* end = nullptr;
        const long number = std::strtol(port->c_str(), &end, 10);
        if (port->empty() || *end != '\0' || number < 1 || number > 65535) throw UsageError("bad --port " + *port);
        settings.port = static_cast<int>(number);
    }
    settings.password = password.value_or("");
    mail.body = body.value_or("");

    // A message goes whole or not at all: every attachment must be a
    // readable file.
    for (const std::string& file : attachments) {
        std::error_code error;
        if (!fs::exists(file, error)) throw InputError("--attach: " + file + " does not exist; nothing was sent");
        if (fs::is_directory(file, error)) throw InputError("--attach: " + file + " is a folder; nothing was sent");
        if (!std::ifstream(file, std::ios::binary))
            throw InputError("--attach: " + file + " cannot be read; nothing was sent");
    }

    CommandLog log;
    MailComposer composer;
    composer.SetupSender(settings);
    CkEmail email;
    composer.Compose(mail, email);
    for (const std::string& message : log.Messages()) std::cerr << "vtools mail: " << Shown(message) << "\n";
    if (email.get_NumAttachments() != static_cast<int>(mail.attachments.size()))
        throw InputError("an attachment could not be read; nothing was sent");
    if (dryRun) {
        WriteOutput(email.getMime());
        return 0;
    }
    // The send itself, with the settings SetupSender gives the manager's
    // mail object, on a mail object of the command's own, whose task tells
    // why a send failed.
    CkMailMan mailMan;
    mailMan.put_SmtpHost(settings.host.c_str());
    mailMan.put_SmtpUsername(settings.userName.c_str());
    mailMan.put_SmtpPassword(settings.password.c_str());
    mailMan.put_SmtpPort(settings.port);
    mailMan.put_SmtpSsl(settings.security == 1);
    mailMan.put_StartTLS(settings.security == 2);
    if (timeout) {
        mailMan.put_ConnectTimeout(*timeout);
        mailMan.put_ReadTimeout(*timeout);
    }
    SendProgress progress(std::string_view(email.getMime()).size());
    mailMan.put_EventCallbackObject(&progress);
    const std::unique_ptr<CkTask> task(mailMan.SendEmailAsync(email));
    if (task == nullptr || !task->Run()) {
        mailMan.put_EventCallbackObject(nullptr);
        std::cerr << "vtools mail: " << Shown(mailMan.lastErrorText()) << "\n";
        return 1;
    }
    task->Wait(-1);
    mailMan.put_EventCallbackObject(nullptr);
    if (!task->GetResultBool()) {
        const std::string text = task->resultErrorText();
        const std::size_t lineEnd = text.find_first_of("\r\n");
        std::cerr << "vtools mail: "
                  << "Wysłanie maila nie powiodło się. Sprawdź połączenie z internetem lub konfigurację serwera.\n"
                  << "vtools mail: " << ShortReason(text) << ": " << Shown(text.substr(0, lineEnd)) << "\n";
        return 1;
    }
    std::cout << "delivered to " << Shown(mail.recipient) << "\n";
    return 0;
}

void Demo(std::ostream& out) {
    out << "== mail: a Polish message with an attachment, sent to an in-process SMTP sink\n";
    SmtpSink sink;
    const TemporaryFolder folder(L"vtools-demo-");
    const fs::path attachment = folder.Path() / "kursy.csv";
    {
        std::ofstream file(attachment, std::ios::binary);
        file << "walor;kurs\r\nWIG20;2345,67\r\n";
    }
    ChilkatMailManager manager;
    manager.SetupSender({"127.0.0.1", "notowania@example.com", "", sink.Port(), "demo", 0});
    const auto ansi = [](const char* utf8) { return VTools::String::Utf8ToAnsi(utf8); };
    const auto started = std::chrono::steady_clock::now();
    const bool queued = manager.SendEmailAsync({ansi("Biuro maklerskie"),
                                                "klient@example.com",
                                                ansi("Zamknięcie sesji: WIG20 2345,67 zł"),
                                                ansi("Dzień dobry,\nw załączniku kursy zamknięcia.\n"),
                                                {VTools::String::WideToAnsi(FromTerminal(attachment.string()))}});
    const bool delivered = queued && sink.WaitFor(1, std::chrono::seconds(30));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    vplatformMailDrain(30000);
    if (!delivered) {
        out << "  not delivered: " << (queued ? "no answer from the sink" : Shown(manager.GetLastError())) << "\n";
        return;
    }
    const std::string message = sink.Last();
    out << "  delivered           " << message.size() << " bytes in " << took.count() << " ms\n";
    for (const char* field : {"Subject: ", "Content-Type: multipart", "Content-Disposition: "}) {
        const std::size_t at = message.find(std::string("\r\n") + field);
        if (at == std::string::npos) continue;
        const std::size_t end = message.find("\r\n", at + 2);
        out << "  " << message.substr(at + 2, end - at - 2) << "\n";
    }
}

const Registration registration{{
    "mail",
    "send an e-mail through SMTP and wait for the result",
    "usage: vtools mail send --server HOST --to ADDRESS [options]\n\n"
    "Composes one message with the library's mail manager, sends it in the\n"
    "background through the platform's mail client and waits for it.  Exits 0\n"
    "when the server accepted it, else 1 with the manager's failure sentence and\n"
    "the transport's reason (refused, timed out, certificate not trusted, name\n"
    "not resolved...).  Every attachment must be a readable file: otherwise\n"
    "nothing is sent (status 1, naming the file).  Progress shows on a terminal\n"
    "while a large message goes out.\n\n"
    "Options:\n"
    "  --port N                 default 25, 465 with tls, 587 with starttls\n"
    "  --security MODE          none (default), tls (from the start) or starttls\n"
    "  --user NAME              log-in name, also the sender address\n"
    "  --password-env VAR       the password from an environment variable\n"
    "  --password-file FILE     the password from the first line of a file that only\n"
    "                           its owner may read or write (chmod 600), or of - (input)\n"
    "  --from NAME              the sender's display name\n"
    "  --subject TEXT\n"
    "  --body TEXT | --body-file FILE   plain text, or HTML when it holds <html\n"
    "  --attach FILE            attach a file (repeatable)\n"
    "  --ca-file PEM            trust these root certificates instead of the system's\n"
    "  --timeout SECONDS        limit for the connection and for each server reply\n"
    "                           (default 30)\n"
    "  --dry-run                print the message instead of sending it\n\n"
    "Passwords are never taken on the command line.  With --security none and\n"
    "--user, a server that offers AUTH without TLS gets the log-in in clear text\n"
    "(meant for local relays); use tls or starttls over any other network.\n",
    Send,
}};
const DemoRegistration demo(90, Demo);

}  // namespace
}  // namespace vtools
