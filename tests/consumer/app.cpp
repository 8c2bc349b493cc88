// A tiny application built against an installed copy of the library.  It
// also runs itself as a child that installs crash reporting and crashes,
// and checks the report the installed crash reporter left.
#include <VLibIncludes.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

__attribute__((noinline)) void ConsumerCrashes(volatile int* target) {
    *target = 1;
}

int CrashChild(const char* saveFolder) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (!CrashHandler::Install(VTools::String::Utf8ToWide(saveFolder), L"consumer", L"1.0")) return 3;
    ConsumerCrashes(nullptr);
    return 4;
}

std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The child dies by SIGSEGV and the reporter, found beside the installed
// library, leaves crash.json and a stack.txt that names the crashing function.
bool CrashReportWorks() {
    char folderTemplate[] = "/tmp/consumer-crash-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) return false;
    const std::filesystem::path folder = folderTemplate;
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "consumer", "crash", folderTemplate, static_cast<char*>(nullptr));
        _exit(5);
    }
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 600 && !ended; ++i) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    bool ok = ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
    std::filesystem::path report;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) report = entry.path();
    const std::string facts = report.empty() ? "" : Read(report / "crash.json");
    const std::string stack = report.empty() ? "" : Read(report / "stack.txt");
    ok = ok && facts.find("\"application\": \"consumer\"") != std::string::npos &&
         facts.find("\"stack\": \"ptrace\"") != std::string::npos && stack.find("ConsumerCrashes") != std::string::npos;
    if (!ok) std::cerr << "status " << status << "\n" << facts << stack;
    std::filesystem::remove_all(folder);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "crash") return CrashChild(argv[2]);
    const std::wstring wide = VTools::String::Utf8ToWide("Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87");
    const std::string digits = SimpleCrypt::Crypt(std::string_view("Hi"));
    bool ok = wide.size() == 6 && VTools::String::WideToUtf8(wide).size() == 10 && digits == "047080";
#ifdef CONSUMER_HAS_RESOURCES
    // Built with CMake: its resource, embedded by the installed vlib_add_resources.
    const auto bytes = VTools::Resource::GetFileFromResource(nullptr, L"greeting", L"TEXT");
    ok = ok &&
         std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()) == "Hello from the installed package";
#endif
    ok = ok && CrashReportWorks();
    std::cout << (ok ? "consumer ok" : "consumer FAILED") << "\n";
    return ok ? 0 : 1;
}
