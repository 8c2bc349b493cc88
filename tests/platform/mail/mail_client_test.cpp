// CkMailMan against a real SMTP server (aiosmtpd): transports and log-ins,
// what a refused log-in shows, session reuse and the retry, tasks and
// callbacks, refused addresses, the socket seam, concurrent use.  The
// failures and the queue limit are tested through ChilkatMailManager.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/crypt/Crypt.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Threads.h"
#include "platform/mail/Mail.h"
#include "platform/mail/internal/Mime.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LastError.h"
#include "tests/support/Seam.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/Wait.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::SmtpServer;
using vlibtest::SmtpServerOptions;
using Mode = SmtpServerOptions::Mode;

constexpr const char* kPassword = "Sekret-Has\xC5\x82o1";

struct Outcome {
    bool queued = false;
    bool delivered = false;
    std::string error;
};

class MailClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        vplatformSetRootCertificateFile(vlibtest::TestCertificates::Get().caFile.c_str());
        Fill(m_email);
    }
    void TearDown() override {
        EXPECT_TRUE(vplatformMailDrain(60000));
        vplatformSetRootCertificateFile(nullptr);
        vplatformSetMailTimeouts(VPLATFORM_MAIL_DEFAULT_TIMEOUT, VPLATFORM_MAIL_DEFAULT_TIMEOUT);
    }

    // A server in `mode` taking `auth`, with `flag` set when given.
    static SmtpServerOptions Options(Mode mode, std::string auth = {}, bool SmtpServerOptions::*flag = nullptr) {
        const auto& certificates = vlibtest::TestCertificates::Get();
        SmtpServerOptions options;
        options.mode = mode;
        options.auth = std::move(auth);
        options.certificate = certificates.serverCertificate;
        options.key = certificates.serverKey;
        if (flag != nullptr) options.*flag = true;
        return options;
    }

    static void Configure(CkMailMan& man, int port, bool ssl = false, bool startTls = false, const char* user = "",
                          const char* password = "") {
        man.put_SmtpHost("127.0.0.1");
        man.put_SmtpPort(port);
        man.put_SmtpSsl(ssl);
        man.put_StartTLS(startTls);
        man.put_SmtpUsername(user);
        man.put_SmtpPassword(password);
    }

    static void Fill(CkEmail& email, const char* subject = "Kursy") {
        email.put_FromAddress("jan@example.com");
        email.put_FromName("Jan");
        email.AddTo("Anna", "anna@example.com");
        email.put_Subject(subject);
        email.put_Body("Dzie\xC5\x84 dobry\n");
        email.put_Boundary("BOUNDARY");
        email.put_EmailDate("Tue, 05 Mar 2024 14:03:07 +0100");
        email.put_MessageID("1@example.com");
    }

    static Outcome Send(CkMailMan& man, CkEmail& email) {
        Outcome outcome;
        std::unique_ptr<CkTask> task(man.SendEmailAsync(email));
        if (!task || !task->Run()) {
            outcome.error = man.lastErrorText();
            return outcome;
        }
        outcome.queued = true;
        EXPECT_TRUE(task->Wait(60000));
        outcome.delivered = task->GetResultBool();
        outcome.error = task->resultErrorText();
        return outcome;
    }

    CkEmail m_email;
};

TEST_F(MailClientTest, TransportsAndLogInsDeliverTheComposedBytes) {
    const std::string polishUser = "żaneta", polishPassword = "hasło";
    struct Case {
        const char* what;
        Mode mode;
        std::string serverAuth, mechanisms;
        bool ssl, startTls;
        std::string user, password;
        UINT acp = 65001;
        bool utf8 = false;
        std::string login = {}, mechanism = {};
    };
    const std::vector<Case> cases = {
        {"plain, no AUTH offered", Mode::Plain, "", "LOGIN,PLAIN", false, false, "", ""},
        {"plain, AUTH not offered, user set", Mode::Plain, "", "LOGIN,PLAIN", false, false, "u", "p"},
        {"plain, AUTH PLAIN", Mode::Plain, "u:p", "LOGIN,PLAIN", false, false, "u", "p", 65001, false, "u", "PLAIN"},
        {"plain, AUTH LOGIN only", Mode::Plain, "u:p", "LOGIN", false, false, "u", "p", 65001, false, "u", "LOGIN"},
        {"STARTTLS required", Mode::StartTls, "u:p", "LOGIN,PLAIN", false, true, "u", "p", 65001, false, "u", "PLAIN"},
        {"implicit TLS", Mode::ImplicitTls, "u:p", "LOGIN,PLAIN", true, false, "u", "p", 65001, false, "u", "PLAIN"},
        {"credentials in windows-1250", Mode::Plain, polishUser + ":" + polishPassword, "PLAIN", false, false,
         std::string("\xBF") + "aneta", "has\xB3o", 1250, false, polishUser, "PLAIN"},
        {"credentials in UTF-8 under windows-1250", Mode::Plain, polishUser + ":" + polishPassword, "LOGIN", false,
         false, polishUser, polishPassword, 1250, true, polishUser, "LOGIN"},
    };
    // The servers start side by side.
    std::vector<std::future<std::unique_ptr<SmtpServer>>> starting;
    for (const Case& c : cases) {
        starting.push_back(std::async(std::launch::async, [&c] {
            auto options = Options(c.mode, c.serverAuth);
            options.mechanisms = c.mechanisms;
            return std::make_unique<SmtpServer>(options);
        }));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        vlibtest::AcpScope acp(c.acp);
        const std::unique_ptr<SmtpServer> started = starting[i].get();
        SmtpServer& server = *started;
        CkMailMan man;
        man.put_Utf8(c.utf8);
        Configure(man, server.Port(), c.ssl, c.startTls, c.user.c_str(), c.password.c_str());
        const Outcome outcome = Send(man, m_email);
        ASSERT_TRUE(outcome.delivered) << outcome.error;
        EXPECT_EQ(outcome.error, "");
        const auto messages = server.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].bytes, m_email.getMime());
        EXPECT_EQ(messages[0].mailFrom, "jan@example.com");
        EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"anna@example.com"});
        EXPECT_EQ(messages[0].tls, c.ssl || c.startTls);
        EXPECT_EQ(messages[0].authenticated, !c.login.empty());
        EXPECT_EQ(messages[0].login, c.login);
        EXPECT_EQ(messages[0].mechanism, c.mechanism);
    }
}

TEST_F(MailClientTest, RefusedLogInsShowTheDialogueWithoutTheCredentials) {
    for (const char* mechanisms : {"PLAIN", "LOGIN"}) {
        auto options = Options(Mode::Plain, "u:p", &SmtpServerOptions::refuseLogin);
        options.mechanisms = mechanisms;
        SmtpServer server(options);
        CkMailMan man;
        man.put_Utf8(true);
        Configure(man, server.Port(), false, false, "u", kPassword);
        const Outcome outcome = Send(man, m_email);
        EXPECT_FALSE(outcome.delivered);
        for (const std::string& shown : {std::string("Login denied (SMTP reply 535)"), std::string("S: 535"),
                                         std::string("C: ***"), "C: AUTH " + std::string(mechanisms)}) {
            EXPECT_NE(outcome.error.find(shown), std::string::npos) << outcome.error;
        }
        // Neither the password nor a base64 form of the log-in reaches a text.
        using vplatform::mail::EncodeBase64;
        for (const std::string& secret : {std::string(kPassword), EncodeBase64(kPassword, 0), EncodeBase64("u", 0),
                                          EncodeBase64(std::string("\0u\0", 3) + kPassword, 0)}) {
            EXPECT_EQ(outcome.error.find(secret), std::string::npos) << outcome.error;
        }
    }
}

// Records what a send tells its callback object.
class Recorder : public CkMailManProgress {
public:
    bool AbortCheck() override { return abortAll.load(); }
    bool PercentDone(int percent) override {
        maxPercent.store(std::max(maxPercent.load(), percent));
        return abortAll.load();
    }
    void ProgressInfo(const char* name, const char*) override {
        std::lock_guard guard(lock);
        infos.emplace_back(name);
    }
    void TaskCompleted(CkTask& task) override {
        LPWSTR name = nullptr;
        GetThreadDescription(GetCurrentThread(), &name);
        {
            std::lock_guard guard(lock);
            threads.emplace_back(name != nullptr ? name : L"");
            results.push_back(task.GetResultBool());
        }
        LocalFree(name);
        completed.fetch_add(1);
        if (throwOnce.exchange(false)) throw std::runtime_error("callback failure");
    }
    std::vector<std::string> Infos() {
        std::lock_guard guard(lock);
        return infos;
    }

    std::mutex lock;
    std::vector<std::string> infos;
    std::vector<std::wstring> threads;
    std::vector<bool> results;
    std::atomic<int> completed{0};
    std::atomic<int> maxPercent{-1};
    std::atomic<bool> throwOnce{false};
    std::atomic<bool> abortAll{false};
};

TEST_F(MailClientTest, SessionsAreKeptADroppedOneIsRetriedAndCallbacksRunOnTheWorkers) {
    for (const bool dropReused : {false, true}) {
        SCOPED_TRACE(dropReused ? "server drops kept sessions" : "healthy server");
        SmtpServer server(Options(Mode::Plain, {}, dropReused ? &SmtpServerOptions::dropReused : nullptr));
        CkMailMan man;
        Recorder progress;
        progress.throwOnce = true;
        man.put_EventCallbackObject(&progress);
        Configure(man, server.Port());
        for (int i = 0; i < 3; ++i) {
            const Outcome outcome = Send(man, m_email);
            EXPECT_TRUE(outcome.delivered) << outcome.error;
            // The worker is idle again, with its session, only once its
            // callbacks have returned; a send queued before that may go to a
            // new worker.
            ASSERT_TRUE(vplatformMailDrain(60000));
            EXPECT_EQ(progress.completed.load(), i + 1);
        }
        EXPECT_EQ(server.Messages().size(), 3u);
        // Kept: one session for all.  Dropped: every later send moves to a
        // new session once.
        EXPECT_EQ(server.Connections(), dropReused ? 3 : 1);
        const auto infos = progress.Infos();
        EXPECT_EQ(std::count(infos.begin(), infos.end(), "SmtpRetry"), dropReused ? 2 : 0);
        EXPECT_EQ(std::count(infos.begin(), infos.end(), "SmtpHost"), 3);
        // The first callback threw; the later ones came all the same, on the
        // named workers.
        EXPECT_EQ(progress.threads, std::vector<std::wstring>(3, L"MailSend"));
        EXPECT_EQ(progress.results, std::vector<bool>(3, true));
        EXPECT_EQ(progress.maxPercent.load(), 100);
        // A callback's abort ends the send unsuccessfully.
        progress.abortAll = true;
        const Outcome outcome = Send(man, m_email);
        EXPECT_FALSE(outcome.delivered);
        EXPECT_NE(outcome.error.find("cancelled"), std::string::npos) << outcome.error;
        ASSERT_TRUE(vlibtest::WaitFor([&] { return progress.completed.load() == 4; }));
        man.put_EventCallbackObject(nullptr);
    }
}

TEST_F(MailClientTest, AnIdleWorkerWhoseSessionFitsTakesTheSend) {
    // Two workers end up idle, one kept session to each server (the send to
    // `first` is held while the one to `second` needs a worker of its own);
    // then each server's next send goes to the worker already connected to
    // it, whichever worker went idle last.
    SmtpServer first(Options(Mode::Plain, {}, &SmtpServerOptions::hold)), second(Options(Mode::Plain));
    CkMailMan toFirst, toSecond;
    Configure(toFirst, first.Port());
    Configure(toSecond, second.Port());
    std::unique_ptr<CkTask> held(toFirst.SendEmailAsync(m_email));
    ASSERT_TRUE(held->Run());
    ASSERT_TRUE(vlibtest::WaitFor([&] { return first.Connections() == 1; }));
    EXPECT_TRUE(Send(toSecond, m_email).delivered);
    first.Release();
    ASSERT_TRUE(vplatformMailDrain(60000));  // every worker idle again
    ASSERT_TRUE(held->GetResultBool());
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(Send(toSecond, m_email).delivered);
        ASSERT_TRUE(vplatformMailDrain(60000));
        EXPECT_TRUE(Send(toFirst, m_email).delivered);
        ASSERT_TRUE(vplatformMailDrain(60000));
    }
    EXPECT_EQ(first.Messages().size(), 3u);
    EXPECT_EQ(second.Messages().size(), 3u);
    EXPECT_EQ(first.Connections(), 1);
    EXPECT_EQ(second.Connections(), 1);
}

// Blocks in TaskCompleted until released.
class BlockingProgress : public CkMailManProgress {
public:
    void TaskCompleted(CkTask&) override {
        entered.set_value();
        release.get_future().wait();
        calls.fetch_add(1);
    }
    std::promise<void> entered, release;
    std::atomic<int> calls{0};
};

TEST_F(MailClientTest, UnregisteringWaitsForACallbackInProgressAndDestroyedObjectsAreForgotten) {
    SmtpServer server(Options(Mode::Plain));
    auto man = std::make_unique<CkMailMan>();
    Configure(*man, server.Port());
    BlockingProgress blocking;
    man->put_EventCallbackObject(&blocking);
    std::unique_ptr<CkTask>(man->SendEmailAsync(m_email))->Run();
    blocking.entered.get_future().wait();
    auto unregistered = std::async(std::launch::async, [&] { man->put_EventCallbackObject(nullptr); });
    EXPECT_EQ(unregistered.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    blocking.release.set_value();
    unregistered.get();
    EXPECT_EQ(blocking.calls.load(), 1);

    // A progress object destroyed while registered is never called again;
    // its mail object destroyed while a send runs leaves the send going.
    auto gone = std::make_unique<Recorder>();
    man->put_EventCallbackObject(gone.get());
    gone.reset();
    std::unique_ptr<CkTask> task(man->SendEmailAsync(m_email));
    man.reset();
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(task->Wait(60000));
    EXPECT_TRUE(task->GetResultBool());
}

TEST_F(MailClientTest, TasksRunOnceCanBeCancelledAndOutliveTheirObjects) {
    SmtpServer server(Options(Mode::Plain, {}, &SmtpServerOptions::hold));
    CkMailMan man;
    Configure(man, server.Port());
    m_email.put_Subject("kept");
    std::unique_ptr<CkTask> never(man.SendEmailAsync(m_email));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FUNCTION, [&] { return never->Wait(0); }));

    // Deleted while it runs: the send goes on.
    CkTask* deleted = man.SendEmailAsync(m_email);
    ASSERT_TRUE(deleted->Run());
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FUNCTION, [&] { return deleted->Run(); }));
    EXPECT_STREQ(man.lastErrorText(), "The task was already started.");
    delete deleted;

    CkEmail other;
    Fill(other, "cancelled");
    std::unique_ptr<CkTask> cancelled(man.SendEmailAsync(other));
    ASSERT_TRUE(cancelled->Run());
    ASSERT_TRUE(vlibtest::WaitFor([&] { return server.Connections() == 2; }));
    EXPECT_TRUE(FailsWith(WAIT_TIMEOUT, [] { return vplatformMailDrain(50); }));
    EXPECT_TRUE(cancelled->Cancel());
    EXPECT_TRUE(cancelled->Wait(10000));
    EXPECT_FALSE(cancelled->GetResultBool());
    EXPECT_NE(std::string(cancelled->resultErrorText()).find("cancelled"), std::string::npos);
    EXPECT_FALSE(cancelled->Cancel());

    server.Release();
    EXPECT_TRUE(vplatformMailDrain(60000));
    ASSERT_GE(server.Messages().size(), 1u);
    EXPECT_NE(server.Messages()[0].bytes.find("Subject: kept"), std::string::npos);
}

TEST_F(MailClientTest, UnusableAddressesAreRefusedBeforeAnythingIsQueued) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a@b.pl\r\nRCPT TO:<c@d.pl>", "control character"},
        {"anna @example.com", "space"},
        {"<anna@example.com>", "angle bracket"},
        {"\xC5\xBC@example.com", "outside ASCII"},
        {std::string(250, 'a') + "@b.pl", "longer than 254"},
        {"", "empty"},
    };
    CkMailMan man;
    man.put_Utf8(true);
    for (const auto& [address, reason] : cases) {
        for (const bool sender : {false, true}) {
            if (sender && address.empty()) continue;
            CkEmail email;
            email.put_Utf8(true);
            email.put_FromAddress(sender ? address.c_str() : "jan@example.com");
            email.AddTo("", sender ? "anna@example.com" : address.c_str());
            EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return man.SendEmailAsync(email); })) << address;
            EXPECT_NE(std::string(man.lastErrorText()).find(reason), std::string::npos) << man.lastErrorText();
        }
    }
    CkEmail none;
    EXPECT_EQ(man.SendEmailAsync(none), nullptr);
    EXPECT_STREQ(man.lastErrorText(), "The message has no recipient.");
}

TEST_F(MailClientTest, ASocketThatCannotBeOpenedFailsTheSend) {
    SmtpServer server(Options(Mode::Plain));
    CkMailMan man;
    Configure(man, server.Port());
    Outcome outcome;
    {
        const vlibtest::SeamScope seam([](auto& s) { s.socket = [](int, int, int) { return errno = EMFILE, -1; }; });
        outcome = Send(man, m_email);
    }
    EXPECT_FALSE(outcome.delivered);
    EXPECT_NE(outcome.error.find("Too many open files"), std::string::npos) << outcome.error;
    EXPECT_TRUE(Send(man, m_email).delivered);
}

TEST_F(MailClientTest, ObjectsMayBeUsedFromSeveralThreadsAtOnce) {
    SmtpServer server(Options(Mode::Plain));
    CkMailMan man;
    Configure(man, server.Port());
    constexpr int kSends = 20;
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done.load(); ++i) {
            m_email.put_Subject(("subject " + std::to_string(i)).c_str());
            man.put_ReadTimeout(30 + i % 2);
            (void)m_email.getMime();
            (void)man.smtpHost();
        }
    });
    std::vector<std::unique_ptr<CkTask>> tasks;
    for (int i = 0; i < kSends; ++i) {
        tasks.emplace_back(man.SendEmailAsync(m_email));
        ASSERT_TRUE(tasks.back()->Run());
    }
    for (auto& task : tasks) {
        EXPECT_TRUE(task->Wait(60000));
        EXPECT_TRUE(task->GetResultBool()) << task->resultErrorText();
    }
    done = true;
    changer.join();
    EXPECT_EQ(server.Messages().size(), static_cast<std::size_t>(kSends));
}

}  // namespace
