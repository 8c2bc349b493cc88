// ChilkatMailManager against a real SMTP server: settings and security,
// one log entry per failed send and none per delivered one, attachments that
// cannot be read, Polish text under the ANSI code pages, refusals reported
// at once, and a manager destroyed while its sends run.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "diagnostics/Log.h"
#include "mail/ChilkatMailManager.h"
#include "platform/crypt/Crypt.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Child.h"
#include "tests/support/LastError.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MailDecode.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "text/StringConversion.h"

namespace {

using vlibtest::SmtpServer;
using vlibtest::SmtpServerOptions;
using Mode = SmtpServerOptions::Mode;

constexpr const char* kFailureFunction = "ChilkatMailManager::ProgressImpl::MailLogProgress::TaskCompleted";
constexpr const char* kUser = "jan@example.com";
constexpr const char* kPassword = "Sekret-Haslo1";

class ChilkatMailManagerTest : public ::testing::Test {
protected:
    void SetUp() override { vplatformSetRootCertificateFile(vlibtest::TestCertificates::Get().caFile.c_str()); }
    void TearDown() override {
        EXPECT_TRUE(vplatformMailDrain(60000));
        vplatformSetRootCertificateFile(nullptr);
        vplatformSetMailTimeouts(VPLATFORM_MAIL_DEFAULT_TIMEOUT, VPLATFORM_MAIL_DEFAULT_TIMEOUT);
    }

    // A server in `mode` taking the account's log-in, changed by `change`.
    static SmtpServerOptions Options(Mode mode, const std::function<void(SmtpServerOptions&)>& change = {}) {
        const auto& certificates = vlibtest::TestCertificates::Get();
        SmtpServerOptions options;
        options.mode = mode;
        options.auth = std::string(kUser) + ":" + kPassword;
        options.certificate = certificates.serverCertificate;
        options.key = certificates.serverKey;
        if (change) change(options);
        return options;
    }

    static ChilkatMailSettingsDefine Settings(int port, int security) {
        return {"127.0.0.1", kUser, kPassword, port, "konto testowe", security};
    }

    static ChilkatMailDefine Mail(std::string subject = "Kursy") {
        return {"Jan Kowalski", "anna@example.com", std::move(subject), "Dzień dobry", {}};
    }

    // Every entry written once the sends have ended.
    std::vector<vlibtest::LogEntry> Entries() {
        EXPECT_TRUE(vplatformMailDrain(60000));
        EXPECT_TRUE(VTools::Log::Instance().Flush());
        return m_log.WaitForEntries(0, std::chrono::milliseconds(0));
    }

    vlibtest::LogCapture m_log;
};

TEST_F(ChilkatMailManagerTest, SetupSenderAppliesTheSettingsAndSecurityPicksTheTransport) {
    struct Case {
        int security;
        Mode server;
        bool delivered;
    };
    const std::vector<Case> cases = {
        {0, Mode::Plain, true},      {3, Mode::Plain, true},     {1, Mode::ImplicitTls, true},
        {2, Mode::StartTls, true},   {0, Mode::StartTls, false}, {3, Mode::ImplicitTls, false},
        {-1, Mode::StartTls, false}, {2, Mode::Plain, false},
    };
    // Short limits: the plain client facing a TLS server waits for a
    // greeting that never comes.
    vplatformSetMailTimeouts(2, 1);
    // The servers start side by side.
    std::map<Mode, std::future<std::unique_ptr<SmtpServer>>> starting;
    for (const Mode mode : {Mode::Plain, Mode::StartTls, Mode::ImplicitTls}) {
        starting[mode] = std::async(std::launch::async, [mode] { return std::make_unique<SmtpServer>(Options(mode)); });
    }
    std::map<Mode, std::unique_ptr<SmtpServer>> servers;
    for (auto& [mode, server] : starting) servers[mode] = server.get();
    std::size_t failures = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("security " + std::to_string(c.security));
        SmtpServer& server = *servers[c.server];
        const std::size_t before = server.Messages().size();
        ChilkatMailManager manager;
        const ChilkatMailSettingsDefine settings = Settings(server.Port(), c.security);
        EXPECT_FALSE(settings.applied);
        manager.SetupSender(settings);
        EXPECT_TRUE(settings.applied);
        EXPECT_TRUE(manager.SendEmailAsync(Mail()));
        EXPECT_TRUE(vplatformMailDrain(60000));
        const auto messages = server.Messages();
        ASSERT_EQ(messages.size(), before + (c.delivered ? 1u : 0u));
        if (c.delivered) {
            EXPECT_EQ(messages.back().mailFrom, kUser);
            EXPECT_EQ(messages.back().recipients, std::vector<std::string>{"anna@example.com"});
            EXPECT_EQ(messages.back().tls, c.security == 1 || c.security == 2);
            EXPECT_TRUE(messages.back().authenticated);
            const auto decoded = vlibtest::DecodeWithPython(messages.back().bytes);
            EXPECT_EQ(decoded.from.name, "Jan Kowalski");
            EXPECT_EQ(decoded.from.address, kUser);
        } else {
            ++failures;
        }
        EXPECT_EQ(Entries().size(), failures);
        EXPECT_EQ(manager.GetLastError(), "");
    }
}

TEST_F(ChilkatMailManagerTest, EachFailedSendLogsOneEntryWithTheFixedMessage) {
    vlibtest::AcpScope acp(1250);
    const auto& certificates = vlibtest::TestCertificates::Get();
    const auto signedWith = [](Mode mode, const std::string& certificate, const std::string& key) {
        return Options(mode, [&](auto& o) { std::tie(o.certificate, o.key) = std::tie(certificate, key); });
    };
    struct Case {
        const char* what;
        std::optional<SmtpServerOptions> server;  // none: nothing listens
        int security;
        bool setUp = true;
        std::string host = "127.0.0.1";
    };
    const std::vector<Case> cases = {
        {"server down", std::nullopt, 0},
        {"log-in refused", Options(Mode::Plain, [](auto& o) { o.refuseLogin = true; }), 0},
        {"untrusted certificate",
         signedWith(Mode::ImplicitTls, certificates.untrustedCertificate, certificates.untrustedKey), 1},
        {"certificate for another name",
         signedWith(Mode::StartTls, certificates.wrongNameCertificate, certificates.wrongNameKey), 2},
        {"no STARTTLS offered", Options(Mode::Plain), 2},
        {"recipient refused", Options(Mode::Plain, [](auto& o) { o.refuseRecipient = true; }), 0},
        {"554 after the data", Options(Mode::Plain, [](auto& o) { o.rejectData = true; }), 0},
        {"silent server", Options(Mode::Silent), 0},
        // These two fail before any connection: no server is needed.
        {"SetupSender never called", std::nullopt, 0, false},
        {"a host that would change the URL", std::nullopt, 0, true, "127.0.0.1/@evil"},
    };
    vplatformSetMailTimeouts(2, 1);
    // "Wysłanie maila nie powiodło się. Sprawdź połączenie z internetem lub
    // konfigurację serwera." in Windows-1250.
    const std::string expected =
        "Wys\xB3"
        "anie maila nie powiod\xB3o si\xEA. Sprawd\x9F po\xB3\xB9"
        "czenie z internetem lub konfiguracj\xEA serwera.";
    // The servers start side by side.
    std::vector<std::future<std::unique_ptr<SmtpServer>>> starting;
    for (const Case& c : cases) {
        starting.push_back(std::async(std::launch::async, [&c]() -> std::unique_ptr<SmtpServer> {
            return c.server ? std::make_unique<SmtpServer>(*c.server) : nullptr;
        }));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        const std::unique_ptr<SmtpServer> server = starting[i].get();
        ChilkatMailManager manager;
        auto settings = Settings(server ? server->Port() : vlibtest::ClosedPort(), c.security);
        settings.host = c.host;
        if (c.setUp) manager.SetupSender(settings);
        EXPECT_TRUE(manager.SendEmailAsync(Mail()));
        const auto log = Entries();
        ASSERT_EQ(log.size(), i + 1);
        EXPECT_EQ(log.back().function, kFailureFunction);
        EXPECT_EQ(log.back().message, expected);
        EXPECT_EQ(manager.GetLastError(), "");
    }
    EXPECT_EQ(vlibtest::TempDir::Read(m_log.File()).find(kPassword), std::string::npos);
}

TEST_F(ChilkatMailManagerTest, PolishTextGoesOutAndAnUnreadableAttachmentIsLeftOutAndLogged) {
    vlibtest::TempDir dir;
    const std::string fileBytes = "data;kurs\r\nWIG20;2345,67\r\n";
    dir.Write("żółw.csv", fileBytes);
    const std::string subject = "Notowania: zażółć gęślą jaźń", body = "Dzień dobry,\nkurs 2345,67 zł\n";
    for (const UINT codePage : {65001u, 1250u}) {
        SCOPED_TRACE(codePage);
        vlibtest::AcpScope acp(codePage);
        const auto ansi = [](const std::string& utf8) { return VTools::String::Utf8ToAnsi(utf8); };
        SmtpServer server(Options(Mode::Plain));
        ChilkatMailManager manager;
        manager.SetupSender(Settings(server.Port(), 0));
        const std::string missing = ansi((dir.Path() / "brak pliku.pdf").string());
        const std::string present = ansi(dir.Path().string() + "\\żółw.csv");
        const std::size_t before = Entries().size();
        EXPECT_TRUE(manager.SendEmailAsync(
            {ansi("Łukasz Żółć"), "anna@example.com", ansi(subject), ansi(body), {missing, present}}));
        const auto log = Entries();
        ASSERT_EQ(log.size(), before + 1);
        EXPECT_EQ(log.back().function, "ChilkatMailManager::CreateCkEmail");
        EXPECT_EQ(log.back().message, ansi("Nie można dołączyć załącznika: ") + missing);
        ASSERT_TRUE(server.WaitForMessages(1));
        const auto decoded = vlibtest::DecodeWithPython(server.Messages()[0].bytes);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.subject, subject);
        EXPECT_EQ(decoded.from.name, "Łukasz Żółć");
        EXPECT_EQ(decoded.body, body);
        ASSERT_EQ(decoded.attachments.size(), 1u);
        EXPECT_EQ(decoded.attachments[0].fileName, "żółw.csv");
        EXPECT_EQ(decoded.attachments[0].bytes, fileBytes);
    }
}

TEST_F(ChilkatMailManagerTest, RefusalsAreReportedAtOnceAndTheLastErrorStays) {
    SmtpServer server(Options(Mode::Plain, [](auto& o) { o.hold = true; }));
    ChilkatMailManager manager;
    manager.SetupSender(Settings(server.Port(), 0));

    // An address that would inject SMTP commands is refused.
    ChilkatMailDefine injected = Mail();
    injected.recipient = "anna@example.com\r\nRCPT TO:<eve@example.com>";
    EXPECT_FALSE(manager.SendEmailAsync(injected));
    EXPECT_EQ(manager.GetLastError(), "The recipient address contains a control character.");

    // The queue holds a bounded number of sends.
    for (int i = 0; i < VPLATFORM_MAIL_MAX_RUNNING; ++i) ASSERT_TRUE(manager.SendEmailAsync(Mail()));
    ASSERT_TRUE(vlibtest::WaitFor([&] { return server.Connections() == VPLATFORM_MAIL_MAX_RUNNING; }));
    for (int i = 0; i < VPLATFORM_MAIL_MAX_WAITING; ++i) ASSERT_TRUE(manager.SendEmailAsync(Mail()));
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_BUSY, [&] { return manager.SendEmailAsync(Mail()); }));
    EXPECT_EQ(manager.GetLastError(), "The send queue is full: 256 sends wait.");
    server.Release();
    ASSERT_TRUE(vplatformMailDrain(120000));
    EXPECT_TRUE(manager.SendEmailAsync(Mail()));
    EXPECT_EQ(manager.GetLastError(), "The send queue is full: 256 sends wait.");
    EXPECT_TRUE(Entries().empty());

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(VPLATFORM_MAIL_MAX_RUNNING + VPLATFORM_MAIL_MAX_WAITING + 1));
    for (const auto& message : messages) EXPECT_EQ(message.recipients, std::vector<std::string>{"anna@example.com"});
}

TEST_F(ChilkatMailManagerTest, AManagerDestroyedWhileItsSendsRunLogsNothing) {
    SmtpServer server(Options(Mode::Plain, [](auto& o) {
        o.hold = true;
        o.rejectData = true;
    }));
    auto manager = std::make_unique<ChilkatMailManager>();
    manager->SetupSender(Settings(server.Port(), 0));
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(manager->SendEmailAsync(Mail()));
    ASSERT_TRUE(vlibtest::WaitFor([&] { return server.Connections() == VPLATFORM_MAIL_MAX_RUNNING; }));
    manager.reset();
    server.Release();
    EXPECT_TRUE(Entries().empty());
}

TEST_F(ChilkatMailManagerTest, TheProcessEndsPromptlyWithSendsRunningAndWaiting) {
    SmtpServer server(Options(Mode::Plain, [](auto& o) {
        o.auth.clear();
        o.hold = true;
    }));
    const auto child = vlibtest::Child::Start({VLIB_MAIL_EXIT_CHILD, std::to_string(server.Port())});
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(vlibtest::WaitFor([&] { return server.Connections() == VPLATFORM_MAIL_MAX_RUNNING; }));
    // The child's sends wait two minutes for a reply: only aborting them
    // lets it end within the bound.
    child->CloseInput();
    EXPECT_EQ(child->Wait(std::chrono::seconds(30)), 0);
    // The two waiting sends were dropped: no session of theirs reached the
    // server.
    server.Release();
    EXPECT_EQ(server.Connections(), VPLATFORM_MAIL_MAX_RUNNING);
}

}  // namespace
