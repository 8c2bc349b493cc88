// Mail sending beside its peers, in the same binary:
//  - messages per second through ChilkatMailManager::SendEmailAsync until
//    delivered (its pool sends over up to VPLATFORM_MAIL_MAX_RUNNING
//    connections at once), beside as many threads each sending its share of
//    the same bytes on one reused libcurl handle, (a) plain to the support
//    library's in-process sink (one Boost.Asio thread, far faster than
//    either sender) and (b) with STARTTLS and AUTH to the tests' aiosmtpd
//    server; every message is checked to have arrived;
//  - the caller's cost of one SendEmailAsync (1 KiB message; median and p99)
//    with a healthy and with a stalled server, beside posting a copy of the
//    message to a boost::asio::thread_pool: ChilkatMailManager's (which also
//    builds the CkEmail) and CkMailMan's with Run on a built message.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MedianReporter.h"
#include "mail/ChilkatMailManager.h"
#include "platform/crypt/Crypt.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/SmtpSink.h"

namespace {

constexpr int kBatch = 200;
constexpr const char* kUser = "jan@example.com";
constexpr const char* kPassword = "bench-password";

// The servers, started once.
struct Servers {
    vlibtest::SmtpSink sink;
    std::unique_ptr<vlibtest::SmtpServer> aiosmtpd;
    std::unique_ptr<vlibtest::SmtpServer> stalled;

    Servers() {
        const auto& certificates = vlibtest::TestCertificates::Get();
        vplatformSetRootCertificateFile(certificates.caFile.c_str());
        vlibtest::SmtpServerOptions options;
        options.mode = vlibtest::SmtpServerOptions::Mode::StartTls;
        options.auth = std::string(kUser) + ":" + kPassword;
        options.certificate = certificates.serverCertificate;
        options.key = certificates.serverKey;
        aiosmtpd = std::make_unique<vlibtest::SmtpServer>(options);
        stalled = std::make_unique<vlibtest::SmtpServer>(vlibtest::SmtpServerOptions{});
    }
};

Servers& TheServers() {
    static Servers servers;
    return servers;
}

// A message of about 1 KiB: Polish text, mostly ASCII.
ChilkatMailDefine Message() {
    std::string body;
    while (body.size() < 1024) body += "Kurs zamknięcia WIG20: 2345,67 zł; obrót 1,2 mld zł.\n";
    return {"Biuro maklerskie", "klient@example.com", "Notowania z dnia", body, {}};
}

ChilkatMailSettingsDefine Settings(int port, int security) {
    return {"127.0.0.1", security == 0 ? "" : kUser, security == 0 ? "" : kPassword, port, "bench", security};
}

// The bytes the manager sends for Message(), for the libcurl loop.
class Preview : public ChilkatMailManager {
public:
    std::string Mime() {
        CkEmail email;
        CreateCkEmail(Message(), email);
        return email.getMime();
    }
};

struct Upload {
    const std::string* bytes;
    std::size_t at;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, upload->bytes->size() - upload->at);
    std::memcpy(buffer, upload->bytes->data() + upload->at, n);
    upload->at += n;
    return n;
}

// Checks after a benchmark that the last message the server got is ours.
void CheckLast(benchmark::State& state, const std::string& last) {
    if (last.find("Notowania z dnia") == std::string::npos) state.SkipWithError("the server got another message");
}

void ManagerThroughput(benchmark::State& state, int port, int security, const std::function<std::size_t()>& delivered) {
    ChilkatMailManager manager;
    manager.SetupSender(Settings(port, security));
    const ChilkatMailDefine message = Message();
    for (auto _ : state) {
        const std::size_t before = delivered();
        for (int i = 0; i < kBatch; ++i) {
            if (!manager.SendEmailAsync(message)) state.SkipWithError(manager.GetLastError().c_str());
        }
        vplatformMailDrain(INFINITE);
        if (delivered() != before + kBatch) state.SkipWithError("not every message was delivered");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// kSenders threads, each with one libcurl handle it reuses (and so keeps
// its connection), sending kBatch / kSenders messages per batch.
constexpr int kSenders = VPLATFORM_MAIL_MAX_RUNNING;
static_assert(kBatch % kSenders == 0);

class CurlSenders {
public:
    CurlSenders(int port, int security, const std::string& mime) : m_mime(mime) {
        const std::string url = "smtp://127.0.0.1:" + std::to_string(port);
        m_recipients = curl_slist_append(nullptr, "<klient@example.com>");
        for (int i = 0; i < kSenders; ++i) {
            CURL* curl = curl_easy_init();
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_PROXY, "");
            curl_easy_setopt(curl, CURLOPT_MAIL_FROM, "<jan@example.com>");
            curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, m_recipients);
            curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
            curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(m_mime.size()));
            if (security == 2) {
                curl_easy_setopt(curl, CURLOPT_USE_SSL, CURLUSESSL_ALL);
                curl_easy_setopt(curl, CURLOPT_CAINFO, vlibtest::TestCertificates::Get().caFile.c_str());
                curl_easy_setopt(curl, CURLOPT_USERNAME, kUser);
                curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
            }
            m_handles.push_back(curl);
        }
        for (int i = 0; i < kSenders; ++i) m_threads.emplace_back([this, i] { Run(i); });
    }
    ~CurlSenders() {
        m_stop = true;
        m_start.arrive_and_wait();
        for (auto& thread : m_threads) thread.join();
        for (CURL* curl : m_handles) curl_easy_cleanup(curl);
        curl_slist_free_all(m_recipients);
    }
    // Sends one batch over all handles at once; the number of failures.
    int SendBatch() {
        m_failures = 0;
        m_start.arrive_and_wait();
        m_done.arrive_and_wait();
        return m_failures;
    }

private:
    void Run(int index) {
        CURL* curl = m_handles[static_cast<std::size_t>(index)];
        Upload upload{&m_mime, 0};
        curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
        for (;;) {
            m_start.arrive_and_wait();
            if (m_stop) return;
            for (int i = 0; i < kBatch / kSenders; ++i) {
                upload.at = 0;
                if (curl_easy_perform(curl) != CURLE_OK) ++m_failures;
            }
            m_done.arrive_and_wait();
        }
    }

    const std::string m_mime;
    curl_slist* m_recipients = nullptr;
    std::vector<CURL*> m_handles;
    std::vector<std::thread> m_threads;
    std::barrier<> m_start{kSenders + 1};
    std::barrier<> m_done{kSenders + 1};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_failures{0};
};

void CurlThroughput(benchmark::State& state, int port, int security, const std::function<std::size_t()>& delivered) {
    Preview preview;
    preview.SetupSender(Settings(port, security));
    CurlSenders senders(port, security, preview.Mime());
    for (auto _ : state) {
        const std::size_t before = delivered();
        if (senders.SendBatch() != 0) state.SkipWithError("libcurl failed to send");
        if (delivered() != before + kBatch) state.SkipWithError("not every message was delivered");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// The sink counts each message before it answers; aiosmtpd stores each
// message before it answers: count the files.
std::size_t SinkCount() {
    return TheServers().sink.Count();
}

std::size_t AiosmtpdCount() {
    return TheServers().aiosmtpd->Messages().size();
}

// The share of the wall time the sink's thread was busy: far below 1 when
// the sink is not what limits the rate.
template <class Run>
void OnSink(benchmark::State& state, Run run) {
    const auto& sink = TheServers().sink;
    const double cpu = sink.ServerCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["sink_busy"] = (sink.ServerCpuSeconds() - cpu) / wall;
    CheckLast(state, sink.Last());
}

void BM_Throughput_Manager_Plain(benchmark::State& state) {
    OnSink(state, [&] { ManagerThroughput(state, TheServers().sink.Port(), 0, SinkCount); });
}
void BM_Throughput_Curl4_Plain(benchmark::State& state) {
    OnSink(state, [&] { CurlThroughput(state, TheServers().sink.Port(), 0, SinkCount); });
}
void BM_Throughput_Manager_AiosmtpdStartTlsAuth(benchmark::State& state) {
    ManagerThroughput(state, TheServers().aiosmtpd->Port(), 2, AiosmtpdCount);
    CheckLast(state, TheServers().aiosmtpd->Messages().back().bytes);
}
void BM_Throughput_Curl4_AiosmtpdStartTlsAuth(benchmark::State& state) {
    CurlThroughput(state, TheServers().aiosmtpd->Port(), 2, AiosmtpdCount);
    CheckLast(state, TheServers().aiosmtpd->Messages().back().bytes);
}
BENCHMARK(BM_Throughput_Manager_Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Throughput_Curl4_Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Throughput_Manager_AiosmtpdStartTlsAuth)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Throughput_Curl4_AiosmtpdStartTlsAuth)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void ReportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return;
    state.counters["median_ns"] = samples[samples.size() / 2];
    state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
}

// Times each of kBatch calls of `send` (which queues one message to `port`).
template <class Send>
void TimeCalls(benchmark::State& state, bool stalled, Send send) {
    auto& servers = TheServers();
    std::vector<double> samples;
    for (auto _ : state) {
        // A stalled server accepts the connection and the data but never
        // answers the end of it: the workers wait while the queue fills.
        if (stalled) servers.stalled->Hold();
        double total = 0;
        for (int i = 0; i < kBatch; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const bool queued = send();
            const double ns =
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
            if (!queued) state.SkipWithError("a message was not queued");
            samples.push_back(ns);
            total += ns;
        }
        state.SetIterationTime(total / 1e9);
        state.PauseTiming();
        if (stalled) servers.stalled->Release();
        vplatformMailDrain(INFINITE);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    ReportPercentiles(state, samples);
}

int PortFor(bool stalled) {
    return stalled ? TheServers().stalled->Port() : TheServers().sink.Port();
}

// ChilkatMailManager::SendEmailAsync: fills a CkEmail, makes the task, runs it.
void ManagerCallerCost(benchmark::State& state, bool stalled) {
    ChilkatMailManager manager;
    manager.SetupSender(Settings(PortFor(stalled), 0));
    const ChilkatMailDefine message = Message();
    TimeCalls(state, stalled, [&] { return manager.SendEmailAsync(message); });
}

// CkMailMan::SendEmailAsync and Run on a message already built: the copy
// into a task and the queueing, as asio's post of a copy.
void MailManCallerCost(benchmark::State& state, bool stalled) {
    CkMailMan man;
    man.put_SmtpHost("127.0.0.1");
    man.put_SmtpPort(PortFor(stalled));
    CkEmail email;
    const ChilkatMailDefine message = Message();
    email.put_FromName(message.senderName.c_str());
    email.AddTo("", message.recipient.c_str());
    email.put_Subject(message.subject.c_str());
    email.put_Body(message.body.c_str());
    TimeCalls(state, stalled, [&] {
        CkTask* task = man.SendEmailAsync(email);
        const bool queued = task != nullptr && task->Run();
        delete task;
        return queued;
    });
}

void BM_CallerCost_Manager_Healthy(benchmark::State& state) {
    ManagerCallerCost(state, false);
}
void BM_CallerCost_Manager_Stalled(benchmark::State& state) {
    ManagerCallerCost(state, true);
}
void BM_CallerCost_MailMan_Healthy(benchmark::State& state) {
    MailManCallerCost(state, false);
}
void BM_CallerCost_MailMan_Stalled(benchmark::State& state) {
    MailManCallerCost(state, true);
}

void BM_CallerCost_AsioPostCopy(benchmark::State& state) {
    auto pool = std::make_unique<boost::asio::thread_pool>(VPLATFORM_MAIL_MAX_RUNNING);
    const ChilkatMailDefine message = Message();
    std::vector<double> samples;
    for (auto _ : state) {
        double total = 0;
        for (int i = 0; i < kBatch; ++i) {
            const auto start = std::chrono::steady_clock::now();
            boost::asio::post(*pool, [copy = message] { benchmark::DoNotOptimize(copy.body.data()); });
            const double ns =
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
            samples.push_back(ns);
            total += ns;
        }
        state.SetIterationTime(total / 1e9);
        state.PauseTiming();
        pool->join();
        pool = std::make_unique<boost::asio::thread_pool>(VPLATFORM_MAIL_MAX_RUNNING);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    ReportPercentiles(state, samples);
}
BENCHMARK(BM_CallerCost_Manager_Healthy)->UseManualTime()->Iterations(50);
BENCHMARK(BM_CallerCost_Manager_Stalled)->UseManualTime()->Iterations(20);
BENCHMARK(BM_CallerCost_MailMan_Healthy)->UseManualTime()->Iterations(50);
BENCHMARK(BM_CallerCost_MailMan_Stalled)->UseManualTime()->Iterations(20);
BENCHMARK(BM_CallerCost_AsioPostCopy)->UseManualTime()->Iterations(50);

}  // namespace

int main(int argc, char** argv) {
    vbench::Initialize(argc, argv);
    TheServers();
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::ItemsPerSecond);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nMedian of the repetitions (their range), ratio ours / peer of the medians (range of the rounds):\n");
    const std::string curl = "libcurl, " + std::to_string(kSenders) + " threads";
    vbench::Report("mail", "plain, in-process sink", "ChilkatMailManager",
                   reporter.Figures("BM_Throughput_Manager_Plain"), curl, reporter.Figures("BM_Throughput_Curl4_Plain"),
                   "messages/s", ">= 1.2");
    vbench::Report("mail", "STARTTLS and AUTH, aiosmtpd", "ChilkatMailManager",
                   reporter.Figures("BM_Throughput_Manager_AiosmtpdStartTlsAuth"), curl,
                   reporter.Figures("BM_Throughput_Curl4_AiosmtpdStartTlsAuth"), "messages/s", ">= 1.2");
    const double oursBusy = reporter.Counter("BM_Throughput_Manager_Plain", "sink_busy").max;
    const double peerBusy = reporter.Counter("BM_Throughput_Curl4_Plain", "sink_busy").max;
    if (oursBusy > 0 || peerBusy > 0) {
        std::printf("  the sink's threads were busy at most %.0f%% (ours) and %.0f%% (libcurl) of one core\n",
                    oursBusy * 100, peerBusy * 100);
    }
    for (const char* counter : {"median_ns", "p99_ns"}) {
        const vbench::Spread asio = reporter.Counter("BM_CallerCost_AsioPostCopy", counter);
        for (const char* caller : {"Manager", "MailMan"}) {
            for (const char* server : {"Healthy", "Stalled"}) {
                const std::string name = std::string("BM_CallerCost_") + caller + "_" + server;
                vbench::Report("mail", std::string("caller cost, ") + server + " server, " + counter,
                               caller == std::string("Manager") ? "ChilkatMailManager" : "CkMailMan",
                               reporter.Counter(name, counter), "asio post of a copy", asio, "ns");
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
