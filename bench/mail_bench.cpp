// Mail sending beside its peers, in the same binary:
//  - messages per second through ChilkatMailManager::SendEmailAsync until
//    delivered, beside a synchronous libcurl loop on one reused handle sending
//    the same bytes, to the tests' aiosmtpd server (a) plain and (b) with
//    STARTTLS and AUTH;
//  - the caller's cost of one SendEmailAsync (1 KiB message; median and p99)
//    with a healthy and with a stalled server, beside posting a copy of the
//    message to a boost::asio::thread_pool: ChilkatMailManager's (which also
//    builds the CkEmail) and CkMailMan's with Run on a built message.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mail/ChilkatMailManager.h"
#include "platform/crypt/Crypt.h"
#include "tests/support/SmtpServer.h"

namespace {

constexpr int kBatch = 200;
constexpr const char* kUser = "jan@example.com";
constexpr const char* kPassword = "bench-password";

// The servers, started once.
struct Servers {
    std::unique_ptr<vlibtest::SmtpServer> plain;
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
        plain = std::make_unique<vlibtest::SmtpServer>(vlibtest::SmtpServerOptions{});
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

void CurlLoopThroughput(benchmark::State& state, int port, int security,
                        const std::function<std::size_t()>& delivered) {
    Preview preview;
    preview.SetupSender(Settings(port, security));
    const std::string mime = preview.Mime();
    CURL* curl = curl_easy_init();
    const std::string url = "smtp://127.0.0.1:" + std::to_string(port);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, "<jan@example.com>");
    curl_slist* recipients = curl_slist_append(nullptr, "<klient@example.com>");
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(mime.size()));
    if (security == 2) {
        curl_easy_setopt(curl, CURLOPT_USE_SSL, CURLUSESSL_ALL);
        curl_easy_setopt(curl, CURLOPT_CAINFO, vlibtest::TestCertificates::Get().caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_USERNAME, kUser);
        curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
    }
    Upload upload{&mime, 0};
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    for (auto _ : state) {
        const std::size_t before = delivered();
        for (int i = 0; i < kBatch; ++i) {
            upload.at = 0;
            const CURLcode code = curl_easy_perform(curl);
            if (code != CURLE_OK) state.SkipWithError(curl_easy_strerror(code));
        }
        if (delivered() != before + kBatch) state.SkipWithError("not every message was delivered");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    curl_easy_cleanup(curl);
    curl_slist_free_all(recipients);
}

// The server stores each message before it answers; count the files.
std::size_t PlainCount() {
    return TheServers().plain->Messages().size();
}

std::size_t AiosmtpdCount() {
    return TheServers().aiosmtpd->Messages().size();
}

void BM_Throughput_Manager_Plain(benchmark::State& state) {
    ManagerThroughput(state, TheServers().plain->Port(), 0, PlainCount);
}
void BM_Throughput_CurlLoop_Plain(benchmark::State& state) {
    CurlLoopThroughput(state, TheServers().plain->Port(), 0, PlainCount);
}
void BM_Throughput_Manager_AiosmtpdStartTlsAuth(benchmark::State& state) {
    ManagerThroughput(state, TheServers().aiosmtpd->Port(), 2, AiosmtpdCount);
}
void BM_Throughput_CurlLoop_AiosmtpdStartTlsAuth(benchmark::State& state) {
    CurlLoopThroughput(state, TheServers().aiosmtpd->Port(), 2, AiosmtpdCount);
}
BENCHMARK(BM_Throughput_Manager_Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Throughput_CurlLoop_Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Throughput_Manager_AiosmtpdStartTlsAuth)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Throughput_CurlLoop_AiosmtpdStartTlsAuth)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Per-call times of one benchmark, for the median and p99.
std::map<std::string, std::vector<double>>& Samples() {
    static std::map<std::string, std::vector<double>> samples;
    return samples;
}

void ReportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return;
    state.counters["median_ns"] = samples[samples.size() / 2];
    state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
}

// Times each of kBatch calls of `send` (which queues one message to `port`).
template <class Send>
void TimeCalls(benchmark::State& state, bool stalled, const std::string& name, Send send) {
    auto& servers = TheServers();
    auto& samples = Samples()[name];
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
    return stalled ? TheServers().stalled->Port() : TheServers().plain->Port();
}

// ChilkatMailManager::SendEmailAsync: fills a CkEmail, makes the task, runs it.
void ManagerCallerCost(benchmark::State& state, bool stalled, const std::string& name) {
    ChilkatMailManager manager;
    manager.SetupSender(Settings(PortFor(stalled), 0));
    const ChilkatMailDefine message = Message();
    TimeCalls(state, stalled, name, [&] { return manager.SendEmailAsync(message); });
}

// CkMailMan::SendEmailAsync and Run on a message already built: the copy
// into a task and the queueing, as asio's post of a copy.
void MailManCallerCost(benchmark::State& state, bool stalled, const std::string& name) {
    CkMailMan man;
    man.put_SmtpHost("127.0.0.1");
    man.put_SmtpPort(PortFor(stalled));
    CkEmail email;
    const ChilkatMailDefine message = Message();
    email.put_FromName(message.senderName.c_str());
    email.AddTo("", message.recipient.c_str());
    email.put_Subject(message.subject.c_str());
    email.put_Body(message.body.c_str());
    TimeCalls(state, stalled, name, [&] {
        CkTask* task = man.SendEmailAsync(email);
        const bool queued = task != nullptr && task->Run();
        delete task;
        return queued;
    });
}

void BM_CallerCost_Manager_Healthy(benchmark::State& state) {
    ManagerCallerCost(state, false, "manager healthy");
}
void BM_CallerCost_Manager_Stalled(benchmark::State& state) {
    ManagerCallerCost(state, true, "manager stalled");
}
void BM_CallerCost_MailMan_Healthy(benchmark::State& state) {
    MailManCallerCost(state, false, "mailman healthy");
}
void BM_CallerCost_MailMan_Stalled(benchmark::State& state) {
    MailManCallerCost(state, true, "mailman stalled");
}

void BM_CallerCost_AsioPostCopy(benchmark::State& state) {
    auto pool = std::make_unique<boost::asio::thread_pool>(VPLATFORM_MAIL_MAX_RUNNING);
    const ChilkatMailDefine message = Message();
    auto& samples = Samples()["asio"];
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

class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            for (const auto& [name, counter] : run.counters) values[run.benchmark_name()][name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The median of the repetitions when there are some, else the one run.
    double Get(const std::string& benchmark, const std::string& counter) const {
        for (const auto& [name, counters] : values) {
            if (!name.starts_with(benchmark) || !name.ends_with("_median")) continue;
            const auto it = counters.find(counter);
            if (it != counters.end()) return it->second;
        }
        for (const auto& [name, counters] : values) {
            if (!name.starts_with(benchmark)) continue;
            const auto it = counters.find(counter);
            if (it != counters.end()) return it->second;
        }
        return 0;
    }
    std::map<std::string, std::map<std::string, double>> values;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TheServers();
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("\nmessages per second (ours / libcurl loop):\n");
    for (const char* server : {"Plain", "AiosmtpdStartTlsAuth"}) {
        const double ours = reporter.Get(std::string("BM_Throughput_Manager_") + server, "items_per_second");
        const double peer = reporter.Get(std::string("BM_Throughput_CurlLoop_") + server, "items_per_second");
        std::printf("  %-22s %9.0f / %9.0f = %.2fx\n", server, ours, peer, ratio(ours, peer));
    }
    std::printf("caller cost in ns, median / p99 (ours, and asio's post of a copy):\n");
    const double asioMedian = reporter.Get("BM_CallerCost_AsioPostCopy", "median_ns");
    const double asioP99 = reporter.Get("BM_CallerCost_AsioPostCopy", "p99_ns");
    std::printf("  %-22s %9.0f / %9.0f\n", "asio post", asioMedian, asioP99);
    for (const char* caller : {"Manager", "MailMan"}) {
        for (const char* server : {"Healthy", "Stalled"}) {
            const std::string name = std::string("BM_CallerCost_") + caller + "_" + server;
            const double median = reporter.Get(name, "median_ns");
            const double p99 = reporter.Get(name, "p99_ns");
            std::printf("  %-22s %9.0f / %9.0f  (%.2fx / %.2fx asio)\n", (std::string(caller) + " " + server).c_str(),
                        median, p99, ratio(median, asioMedian), ratio(p99, asioP99));
        }
    }
    benchmark::Shutdown();
    return 0;
}
