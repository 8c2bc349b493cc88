// Real crashes: a child process installs crash reporting and crashes; its
// exit status, report folder, crash.json, stack.txt, copies and log are
// checked.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <boost/json.hpp>
#include <cstring>
#include <filesystem>
#include <regex>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Child {
    pid_t pid = 0;
    int status = -1;
};

// The sanitizers' own signal handlers would report the crash instead of
// letting the previous (default) disposition end the child.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "ASAN_OPTIONS=", 13) != 0 && std::strncmp(*entry, "UBSAN_OPTIONS=", 14) != 0)
            environment.emplace_back(*entry);
    }
    environment.emplace_back(
        "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0:"
        "detect_leaks=0:use_sigaltstack=0");
    environment.emplace_back("UBSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0");
    return environment;
}

Child RunChild(const std::vector<std::string>& arguments) {
    std::vector<std::string> strings{VLIB_CRASH_CHILD};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> envp;
    for (auto& s : environment) envp.push_back(s.data());
    envp.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return child;
    const bool ended = vlibtest::WaitFor([&] { return waitpid(child.pid, &child.status, WNOHANG) == child.pid; },
                                         std::chrono::seconds(30));
    if (!ended) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, &child.status, 0);
        ADD_FAILURE() << "the child did not end";
    }
    return child;
}

class CrashReportTest : public vlibtest::TempDirTest {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "ThreadSanitizer defers signals to its own handler and reports a signal-unsafe "
                        "call from it instead of letting the child die by the signal";
#endif
    }
    fs::path Save() const {
        return m_dir.Path() / "reports";
    }
    fs::path Log() const {
        return m_dir.Path() / "log.txt";
    }

    Child Crash(const std::string& mode, std::vector<std::string> copies = {}) {
        std::vector<std::string> arguments{mode, Save().string(), Log().string()};
        arguments.insert(arguments.end(), copies.begin(), copies.end());
        return RunChild(arguments);
    }
    // The one report folder of the child.
    fs::path Report(const Child& child) const {
        const std::regex name("crash-\\d{8}-\\d{6}-" + std::to_string(child.pid));
        std::vector<fs::path> found;
        if (fs::exists(Save()))
            for (const auto& entry : fs::directory_iterator(Save()))
                if (std::regex_match(entry.path().filename().string(), name)) found.push_back(entry.path());
        EXPECT_EQ(found.size(), 1u) << "report folders of " << child.pid;
        return found.empty() ? fs::path() : found[0];
    }
    static boost::json::object Facts(const fs::path& report) {
        return boost::json::parse(vlibtest::TempDir::Read(report / "crash.json")).as_object();
    }
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const auto& entry : vlibtest::ParseLog(vlibtest::TempDir::Read(Log()))) messages.push_back(entry.message);
        return messages;
    }
};

void ExpectSignal(const Child& child, int signal) {
    ASSERT_TRUE(WIFSIGNALED(child.status)) << "status " << child.status;
    EXPECT_EQ(WTERMSIG(child.status), signal);
}

TEST_F(CrashReportTest, ANullPointerLeavesAReportNamingTheCrashingFunctionAndTheCopiesAndDiesBySigsegv) {
    const fs::path cfg = m_dir.Path() / "Cfg";
    fs::create_directories(cfg);
    m_dir.Write("Cfg/settings.xml", "<data/>");
    const Child child = Crash("segv", {cfg.string()});
    ExpectSignal(child, SIGSEGV);
    const fs::path report = Report(child);
    const auto facts = Facts(report);
    EXPECT_EQ(facts.at("signal").as_int64(), SIGSEGV);
    EXPECT_EQ(facts.at("signalName").as_string(), "SIGSEGV");
    EXPECT_EQ(facts.at("code").as_int64(), SEGV_MAPERR);
    EXPECT_EQ(facts.at("address").as_string(), "0x0");
    EXPECT_EQ(facts.at("pid").as_int64(), child.pid);
    EXPECT_EQ(facts.at("threadId").as_int64(), child.pid);  // the main thread
    EXPECT_EQ(facts.at("threadName").as_string(), "crash_child");
    EXPECT_EQ(facts.at("application").as_string(), "crash-child");
    EXPECT_EQ(facts.at("version").as_string(), "1.2.3");
    // The reporter process unwound the crashed thread itself.
    EXPECT_EQ(facts.at("stack").as_string(), "ptrace");
    const std::string stack = vlibtest::TempDir::Read(report / "stack.txt");
    EXPECT_EQ(stack.rfind("#0", 0), 0u) << stack;
    const std::string first = stack.substr(0, stack.find('\n'));
    // Module+offset, the function and its source line; static functions too;
    // the modules with their build ids.
    EXPECT_TRUE(std::regex_search(first, std::regex("crash_child\\+0x[0-9a-f]+  CrashChildNullPointer\\+0x[0-9a-f]+  "
                                                    ".*crash_child\\.cpp:\\d+$")))
        << stack;
    EXPECT_NE(stack.find("  (anonymous namespace)::StaticStep(int volatile*)"), std::string::npos) << stack;
    EXPECT_NE(stack.find("  main+0x"), std::string::npos) << stack;
    // The sections are searched line by line: a pattern spanning the whole
    // text recurses too deep for std::regex in instrumented builds.
    const std::string modules = stack.substr(std::min(stack.find("\nModules:\n"), stack.size()));
    EXPECT_TRUE(std::regex_search(modules, std::regex("crash_child  build-id [0-9a-f]{40}\n"))) << stack;
    const std::string threads = stack.substr(std::min(stack.find("\nThreads:\n"), stack.size()));
    EXPECT_NE(threads.find("\n" + std::to_string(child.pid) + "  crash_child  (crashed)\n"), std::string::npos)
        << stack;
    EXPECT_TRUE(std::regex_search(threads, std::regex("\n\\d+  Crash\n"))) << stack;
    EXPECT_EQ(vlibtest::TempDir::Read(report / "Cfg" / "settings.xml"), "<data/>");
    const auto messages = LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "CrashCallback called"), 2) << messages.size();
}

TEST_F(CrashReportTest, AbortAndAnUncaughtExceptionDieBySigabrtWithTheExceptionInTheReport) {
    const Child aborted = Crash("abort");
    ExpectSignal(aborted, SIGABRT);
    const auto abortFacts = Facts(Report(aborted));
    EXPECT_EQ(abortFacts.at("signalName").as_string(), "SIGABRT");
    EXPECT_FALSE(abortFacts.contains("terminate"));

    const Child thrown = Crash("throw");
    ExpectSignal(thrown, SIGABRT);
    const fs::path report = Report(thrown);
    const auto facts = Facts(report);
    ASSERT_TRUE(facts.contains("terminate"));
    EXPECT_EQ(facts.at("terminate").at("type").as_string(), "std::runtime_error");
    EXPECT_EQ(facts.at("terminate").at("what").as_string(), "zły \"dzień\"");
    EXPECT_NE(vlibtest::TempDir::Read(report / "stack.txt").find("CrashChildThrow"), std::string::npos);
}

TEST_F(CrashReportTest, ACallbackThatHangsOrCrashesIsAbandonedAndTheHandlerWritesTheReport) {
    for (const std::string mode : {"hang", "callback-segv"}) {
        const Child child = Crash(mode);
        ExpectSignal(child, SIGSEGV);
        const fs::path report = Report(child);
        EXPECT_EQ(Facts(report).at("signal").as_int64(), SIGSEGV) << mode;
        EXPECT_EQ(Facts(report).at("stack").as_string(), "raw") << mode;
        // Bare addresses: the handler does not symbolize.
        const std::string stack = vlibtest::TempDir::Read(report / "stack.txt");
        EXPECT_TRUE(std::regex_search(stack, std::regex("^#0   0x[0-9a-f]{16}\n"))) << mode << ": " << stack;
    }
}

TEST_F(CrashReportTest, WithoutPtraceTheHandlersFramesAreNamedAndWithoutAReporterTheyAreWrittenBare) {
    struct Case {
        const char* mode;
        const char* stack;
        const char* firstLine;  // what the line of frame 0 must match
    };
    const Case cases[] = {
        {"no-ptrace", "handler",
         "^#0   0x[0-9a-f]{16}  crash_child\\+0x[0-9a-f]+  CrashChildNullPointer\\+0x[0-9a-f]+  .*:\\d+$"},
        {"reporter-killed", "raw", "^#0   0x[0-9a-f]{16}$"},
    };
    for (const Case& c : cases) {
        const Child child = Crash(c.mode);
        ExpectSignal(child, SIGSEGV);
        const fs::path report = Report(child);
        const auto facts = Facts(report);
        EXPECT_EQ(facts.at("stack").as_string(), c.stack) << c.mode;
        EXPECT_EQ(facts.at("threadId").as_int64(), child.pid) << c.mode;
        const std::string stack = vlibtest::TempDir::Read(report / "stack.txt");
        EXPECT_TRUE(std::regex_search(stack.substr(0, stack.find('\n')), std::regex(c.firstLine))) << c.mode << stack;
        // The static caller is there, named or as a bare address.
        EXPECT_GE(std::count(stack.begin(), stack.end(), '#'), 3) << c.mode << stack;
    }
}

TEST_F(CrashReportTest, AStackOverflowOnAnExecutorThreadIsReportedFromItsCrashStack) {
    const Child child = Crash("overflow");
    ExpectSignal(child, SIGSEGV);
    const fs::path report = Report(child);
    const auto facts = Facts(report);
    EXPECT_EQ(facts.at("threadName").as_string(), "Overflow");
    EXPECT_NE(facts.at("threadId").as_int64(), child.pid);
    EXPECT_NE(vlibtest::TempDir::Read(report / "stack.txt").find("Recurse"), std::string::npos);
}

TEST_F(CrashReportTest, TwoThreadsCrashingAtOnceLeaveOneReport) {
    const Child child = Crash("two-threads");
    ExpectSignal(child, SIGSEGV);
    const auto facts = Facts(Report(child));  // exactly one folder
    EXPECT_NE(facts.at("threadId").as_int64(), child.pid);
}

TEST_F(CrashReportTest, ARemovedSaveFolderIsRecreated) {
    const Child child = Crash("removed");
    ExpectSignal(child, SIGSEGV);
    EXPECT_TRUE(fs::exists(Report(child) / "crash.json"));
}

TEST_F(CrashReportTest, AForkedChildTakesTheDefaultActionWithoutAReport) {
    const Child child = Crash("forked");
    ASSERT_TRUE(WIFEXITED(child.status)) << child.status;
    EXPECT_EQ(WEXITSTATUS(child.status), 100 + SIGSEGV);
    EXPECT_EQ(vlibtest::Names(Save()), std::vector<std::string>{});
}

}  // namespace
