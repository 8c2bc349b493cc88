// Real crashes: a child process installs crash reporting and crashes; its
// exit status, report folder, crash.json, stack.txt, copies and log are
// checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>

#include "tests/support/Child.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Ended {
    pid_t pid = 0;
    int status = -1;
    std::string output;  // its standard output
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

    // Runs the child in `mode` (saving into `save`, Save() when empty; `meet`
    // talks to it first) and checks how it ended: `status` is its exit code,
    // or 128 + the signal that killed it.  The sanitizers' own signal handlers
    // would report the crash instead of letting the previous (default)
    // disposition end the child.
    Ended Crash(const std::string& mode, int status = 128 + SIGSEGV, std::vector<std::string> copies = {},
                std::string save = {}, const std::function<void(vlibtest::Child&)>& meet = {}) {
        std::vector<std::string> argv{VLIB_CRASH_CHILD, mode, save.empty() ? Save().string() : save, Log().string()};
        argv.insert(argv.end(), copies.begin(), copies.end());
        const auto child = vlibtest::Child::Start(
            argv, {"ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0:"
                   "detect_leaks=0:use_sigaltstack=0",
                   "UBSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0"});
        if (!child) return {};
        if (meet) meet(*child);
        std::string output;
        while (const auto line = child->ReadLine(std::chrono::seconds(30))) output += *line + "\n";
        const auto ended = child->Wait(std::chrono::seconds(30));
        EXPECT_EQ(ended, status) << mode;
        return {child->Pid(), ended.value_or(-1), output};
    }
    // The one report folder of the child that is the user's own: private,
    // and so are its files.
    fs::path Report(const Ended& child, const fs::path& save = {}) const {
        const fs::path folder = save.empty() ? Save() : save;
        const std::regex name("crash-\\d{8}-\\d{6}-" + std::to_string(child.pid) + "(-\\d+)?");
        std::vector<fs::path> found;
        struct stat status {};
        if (fs::exists(folder))
            for (const auto& entry : fs::directory_iterator(folder))
                if (std::regex_match(entry.path().filename().string(), name) &&
                    lstat(entry.path().c_str(), &status) == 0 && status.st_uid == geteuid())
                    found.push_back(entry.path());
        EXPECT_EQ(found.size(), 1u) << "report folders of " << child.pid;
        if (found.empty()) return {};
        EXPECT_EQ(Mode(found[0]), 040700) << found[0];
        for (const char* file : {"crash.json", "stack.txt"}) EXPECT_EQ(Mode(found[0] / file), 0100600) << file;
        return found[0];
    }
    static unsigned Mode(const fs::path& path) {
        struct stat status {};
        return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
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

// The report's time and folder name and the log's stamps come from the
// platform's clock, in its local time.
TEST_F(CrashReportTest, TheReportAndTheLogAreStampedByThePlatformClock) {
    const Ended child = Crash("fixed-clock");
    const fs::path report = Report(child);
    EXPECT_EQ(report.filename().string().substr(0, 22), "crash-20240229-180456-");
    if (!report.empty()) {
        EXPECT_EQ(Facts(report).at("time").as_string(), "2024-02-29T18:04:56.789+05:30");
    }
    const auto log = vlibtest::ParseLog(vlibtest::TempDir::Read(Log()));
    EXPECT_FALSE(log.empty());
    for (const auto& entry : log) EXPECT_EQ(entry.time, "18:04:56.789") << entry.message;
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

// A callback that hangs or crashes is abandoned, and the reporter, which
// needs nothing from the crashed process, still unwinds it; the handler
// writes the stack when the reporter cannot unwind: named frames when only
// ptrace is refused, bare addresses without a reporter.
TEST_F(CrashReportTest, WhenTheCallbackFailsTheReporterStillUnwindsAndWithoutItTheHandlerWritesTheStack) {
    const char* bare = "^#0   0x[0-9a-f]{16}$";
    const char* named =
        "^#0   0x[0-9a-f]{16}  crash_child\\+0x[0-9a-f]+  CrashChildNullPointer\\+0x[0-9a-f]+  .*:\\d+$";
    const struct {
        const char* mode;
        const char* stack;
        const char* firstLine;  // what the line of frame 0 must match
    } cases[] = {
        {"hang", "ptrace", named},        {"callback-segv", "ptrace", named},    {"no-ptrace", "handler", named},
        {"reporter-killed", "raw", bare}, {"hang-reporter-killed", "raw", bare},
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

// The save folder is the one the relative name meant at installation: the
// report files and the copies land together however the current folder
// changes before the crash.
TEST_F(CrashReportTest, ARelativeSaveFolderIsTakenFromTheCurrentFolderAtInstallation) {
    const fs::path cfg = m_dir.Path() / "Cfg";
    fs::create_directories(cfg);
    fs::create_directories(m_dir.Path() / "moved");
    m_dir.Write("Cfg/settings.xml", "<data/>");
    const Ended child = Crash("relative", 128 + SIGSEGV, {cfg.string()}, "rel/reports");
    const fs::path report = Report(child, m_dir.Path() / "rel" / "reports");
    EXPECT_EQ(Facts(report).at("stack").as_string(), "ptrace");
    EXPECT_EQ(vlibtest::TempDir::Read(report / "Cfg" / "settings.xml"), "<data/>");
    EXPECT_EQ(vlibtest::Names(m_dir.Path() / "moved"), std::vector<std::string>{});
}

// Fills the file system of `file` up to `freeBytes` left.
void Fill(const fs::path& file, off_t freeBytes) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(64 * 1024, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(ftruncate(fd, lseek(fd, 0, SEEK_END) - freeBytes), 0);
    close(fd);
}

// A report that does not fit, on a full file system or one with room for a
// part (a short write), leaves no empty or cut files: the report goes to
// standard error, as for a folder that cannot be written.
TEST_F(CrashReportTest, AReportThatDoesNotFitGoesToStandardErrorAndLeavesNoPartialFiles) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const fs::path disk = m_dir.Path() / "disk";
    fs::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0)
        GTEST_SKIP() << "no small file system to fill: " << std::strerror(errno);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> mounted(
        &disk, [](const fs::path* path) { umount2(path->c_str(), MNT_DETACH); });
    const off_t page = sysconf(_SC_PAGESIZE);
    for (const off_t room : {off_t{0}, 2 * page}) {
        SCOPED_TRACE(room);
        Fill(disk / "filler", room);
        const Ended child = Crash("full-disk", 128 + SIGSEGV, {}, (disk / "reports").string());
        EXPECT_EQ(vlibtest::Names(disk / "reports"), std::vector<std::string>{});
        EXPECT_NE(child.output.find("\"signalName\": \"SIGSEGV\""), std::string::npos) << child.output;
        EXPECT_NE(child.output.find("CrashChildNullPointer"), std::string::npos) << child.output;
    }
}

// Another user who can write into the save folder (a sticky one, so not over
// the user's names) plants folders at the guessable report names, with links
// to the user's file: the report goes to a new folder of the user's own, from
// the reporter and from the handler alike, and the linked file is untouched.
TEST_F(CrashReportTest, FoldersPlantedAtTheReportNamesAreNeitherWrittenThroughNorUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
    const uid_t other = 4242;
    fs::permissions(m_dir.Path(), fs::perms::others_exec, fs::perm_options::add);
    fs::create_directories(Save());
    ASSERT_EQ(chmod(Save().c_str(), 01777), 0);
    const fs::path victim = m_dir.Write("victim.txt", "mine");
    chmod(victim.c_str(), 0644);
    for (const auto& [mode, stack] : {std::pair{"planted", "ptrace"}, std::pair{"planted-raw", "raw"}}) {
        SCOPED_TRACE(mode);
        const Ended child = Crash(mode, 128 + SIGSEGV, {}, {}, [&](vlibtest::Child& running) {
            ASSERT_EQ(running.ReadLine(std::chrono::seconds(30)), "ready");
            const pid_t planter = fork();
            if (planter == 0) {
                if (setgid(other) != 0 || setuid(other) != 0) _exit(1);
                for (time_t t = time(nullptr) - 2, end = t + 40; t < end; ++t) {
                    char name[64];
                    struct tm local {};
                    localtime_r(&t, &local);
                    strftime(name, sizeof name, "/crash-%Y%m%d-%H%M%S-", &local);
                    const std::string folder = Save().string() + name + std::to_string(running.Pid());
                    if (mkdir(folder.c_str(), 0777) != 0 || chmod(folder.c_str(), 0777) != 0) _exit(2);
                    for (const char* file : {"/crash.json", "/stack.txt"})
                        if (symlink(victim.c_str(), (folder + file).c_str()) != 0) _exit(3);
                }
                _exit(0);
            }
            int status = -1;
            waitpid(planter, &status, 0);
            EXPECT_EQ(status, 0);
            running.CloseInput();
        });
        EXPECT_EQ(vlibtest::TempDir::Read(victim), "mine");
        EXPECT_EQ(Facts(Report(child)).at("stack").as_string(), stack);
    }
}

TEST_F(CrashReportTest, AForkedChildTakesTheDefaultActionWithoutAReport) {
    Crash("forked", 100 + SIGSEGV);  // checks the status: the default action
    EXPECT_EQ(vlibtest::Names(Save()), std::vector<std::string>{});
}

}  // namespace
