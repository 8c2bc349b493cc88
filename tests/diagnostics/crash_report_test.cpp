// Real crashes: a child process installs crash reporting and crashes; its
// exit status, report folder, crash.json, stack.txt, copies and log are
// checked.
#include <gtest/gtest.h>

#include <signal.h>

#include <boost/json.hpp>
#include <filesystem>
#include <regex>

#include "tests/support/Child.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Ended {
    pid_t pid = 0;
    int status = -1;
};

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

    // Runs the child in `mode` and checks how it ended: `status` is its exit
    // code, or 128 + the signal that killed it.  The sanitizers' own signal
    // handlers would report the crash instead of letting the previous
    // (default) disposition end the child.
    Ended Crash(const std::string& mode, int status = 128 + SIGSEGV, std::vector<std::string> copies = {}) {
        std::vector<std::string> argv{VLIB_CRASH_CHILD, mode, Save().string(), Log().string()};
        argv.insert(argv.end(), copies.begin(), copies.end());
        const auto child = vlibtest::Child::Start(
            argv, {"ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0:"
                   "detect_leaks=0:use_sigaltstack=0",
                   "UBSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0"});
        if (!child) return {};
        const auto ended = child->Wait(std::chrono::seconds(30));
        EXPECT_EQ(ended, status) << mode;
        return {child->Pid(), ended.value_or(-1)};
    }
    // The one report folder of the child.
    fs::path Report(const Ended& child) const {
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
};

TEST_F(CrashReportTest, ANullPointerLeavesAReportNamingTheCrashingFunctionAndTheCopiesAndDiesBySigsegv) {
    const fs::path cfg = m_dir.Path() / "Cfg";
    fs::create_directories(cfg);
    m_dir.Write("Cfg/settings.xml", "<data/>");
    const Ended child = Crash("segv", 128 + SIGSEGV, {cfg.string()});
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
    const auto log = vlibtest::ParseLog(vlibtest::TempDir::Read(Log()));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& e) { return e.message == "CrashCallback called"; }),
              2);
}

TEST_F(CrashReportTest, AbortAndAnUncaughtExceptionDieBySigabrtWithTheExceptionInTheReport) {
    const Ended aborted = Crash("abort", 128 + SIGABRT);
    const auto abortFacts = Facts(Report(aborted));
    EXPECT_EQ(abortFacts.at("signalName").as_string(), "SIGABRT");
    EXPECT_FALSE(abortFacts.contains("terminate"));

    const Ended thrown = Crash("throw", 128 + SIGABRT);
    const fs::path report = Report(thrown);
    const auto facts = Facts(report);
    ASSERT_TRUE(facts.contains("terminate"));
    EXPECT_EQ(facts.at("terminate").at("type").as_string(), "std::runtime_error");
    EXPECT_EQ(facts.at("terminate").at("what").as_string(), "zły \"dzień\"");
    EXPECT_NE(vlibtest::TempDir::Read(report / "stack.txt").find("CrashChildThrow"), std::string::npos);
}

// When the reporter cannot unwind, the handler writes the stack: bare
// addresses after a callback that hangs or crashes (abandoned) or without a
// reporter, named frames when only ptrace is refused.
TEST_F(CrashReportTest, WhenTheReporterCannotUnwindTheHandlerWritesTheStack) {
    const char* bare = "^#0   0x[0-9a-f]{16}$";
    const struct {
        const char* mode;
        const char* stack;
        const char* firstLine;  // what the line of frame 0 must match
    } cases[] = {
        {"hang", "raw", bare},
        {"callback-segv", "raw", bare},
        {"no-ptrace", "handler",
         "^#0   0x[0-9a-f]{16}  crash_child\\+0x[0-9a-f]+  CrashChildNullPointer\\+0x[0-9a-f]+  .*:\\d+$"},
        {"reporter-killed", "raw", bare},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Ended child = Crash(c.mode);
        const fs::path report = Report(child);
        const auto facts = Facts(report);
        EXPECT_EQ(facts.at("signal").as_int64(), SIGSEGV);
        EXPECT_EQ(facts.at("stack").as_string(), c.stack);
        EXPECT_EQ(facts.at("threadId").as_int64(), child.pid);
        const std::string stack = vlibtest::TempDir::Read(report / "stack.txt");
        EXPECT_TRUE(std::regex_search(stack.substr(0, stack.find('\n')), std::regex(c.firstLine))) << stack;
        // The static caller is there, named or as a bare address.
        EXPECT_GE(std::count(stack.begin(), stack.end(), '#'), 3) << stack;
    }
}

// A stack overflow is reported from the executor thread's crash stack; two
// threads crashing at once leave one report; a removed save folder is made
// again.
TEST_F(CrashReportTest, OverflowsSimultaneousCrashesAndARemovedFolderLeaveOneReport) {
    const struct {
        const char* mode;
        bool otherThread;
        const char* threadName;  // and a function in the stack, when not null
        const char* inStack;
    } cases[] = {{"overflow", true, "Overflow", "Recurse"},
                 {"two-threads", true, nullptr, nullptr},
                 {"removed", false, nullptr, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Ended child = Crash(c.mode);
        const fs::path report = Report(child);
        const auto facts = Facts(report);
        EXPECT_EQ(facts.at("threadId").as_int64() != child.pid, c.otherThread);
        if (c.threadName == nullptr) continue;
        EXPECT_EQ(facts.at("threadName").as_string(), c.threadName);
        EXPECT_NE(vlibtest::TempDir::Read(report / "stack.txt").find(c.inStack), std::string::npos);
    }
}

TEST_F(CrashReportTest, AForkedChildTakesTheDefaultActionWithoutAReport) {
    Crash("forked", 100 + SIGSEGV);  // checks the status: the default action
    EXPECT_EQ(vlibtest::Names(Save()), std::vector<std::string>{});
}

}  // namespace
