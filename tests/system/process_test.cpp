// VTools::Process::OpenProcess and its owning result.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "system/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;
using VTools::Process::OpenProcess;
using VTools::Process::OpenProcessResult;

class ProcessTest : public vlibtest::TempDirTest {
protected:
    // An executable script at `relative` that writes its name and arguments,
    // one a line, to the file "ran" beside the folder's root.
    fs::path Script(const std::string& relative) {
        const fs::path path = m_dir.Path() / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n{ echo \"" << relative
                            << "\"; for a in \"$@\"; do echo \"[$a]\"; done; } > '" << (m_dir.Path() / "ran").string()
                            << "'\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }

    // What the started program wrote, once it has ended.
    std::string Ran(OpenProcessResult& result) {
        EXPECT_TRUE(result);
        if (!result) return {};
        EXPECT_EQ(WaitForSingleObject(result.GetProcessHandle(), 20'000), WAIT_OBJECT_0);
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(result.GetProcessHandle(), &code));
        EXPECT_EQ(code, 0u);
        return vlibtest::TempDir::Read(m_dir.Path() / "ran");
    }
};

bool Zombie(DWORD pid) {
    return fs::exists("/proc/" + std::to_string(pid));
}

TEST_F(ProcessTest, TheProgramRunsWithItsArgumentsAndAPathWithSpacesNamesIt) {
    const fs::path plain = Script("bin/tool");
    const fs::path spaced = Script("my apps/tool");
    Script("my");  // what an unquoted "…/my apps/tool" would start
    const struct {
        fs::path program;
        std::wstring arguments;
        std::string ran;
    } cases[] = {
        {plain, L"", "bin/tool\n"},
        {plain, L"one \"two three\" four\\\"", "bin/tool\n[one]\n[two three]\n[four\"]\n"},
        {spaced, L"", "my apps/tool\n"},
        {spaced, L"x \"y z\"", "my apps/tool\n[x]\n[y z]\n"},
    };
    for (const auto& c : cases) {
        fs::remove(m_dir.Path() / "ran");
        OpenProcessResult result = OpenProcess(c.program.wstring(), c.arguments);
        EXPECT_NE(result.GetProcessId(), 0u);
        EXPECT_NE(result.GetThreadId(), 0u);
        EXPECT_EQ(Ran(result), c.ran) << c.program;
    }
}

TEST_F(ProcessTest, MissingAndUnquotablePathsGiveAnEmptyResult) {
    const fs::path quoted = Script("say \"hi\"/tool");
    const fs::path folder = m_dir.Path() / "bin";
    fs::create_directories(folder);
    for (const fs::path& path : {m_dir.Path() / "nothing", folder, quoted, fs::path()}) {
        const OpenProcessResult result = OpenProcess(path.wstring(), L"a");
        EXPECT_FALSE(result) << path;
        EXPECT_EQ(result.GetProcessHandle(), nullptr);
        EXPECT_EQ(result.GetProcessId(), 0u);
    }
    EXPECT_FALSE(fs::exists(m_dir.Path() / "ran"));
}

TEST_F(ProcessTest, MovesLeaveTheSourceEmptyAndAssignmentClosesTheReplacedHandles) {
    const fs::path program = Script("bin/tool");
    OpenProcessResult first = OpenProcess(program.wstring(), L"");
    ASSERT_TRUE(first);
    const DWORD pid = first.GetProcessId();
    ASSERT_EQ(WaitForSingleObject(first.GetProcessHandle(), 20'000), WAIT_OBJECT_0);
    // Ended, but its handles keep it unreaped.
    EXPECT_TRUE(Zombie(pid));

    OpenProcessResult moved(std::move(first));
    EXPECT_FALSE(first);  // NOLINT: the moved-from state is the point
    EXPECT_EQ(first.GetProcessId(), 0u);
    EXPECT_EQ(moved.GetProcessId(), pid);

    OpenProcessResult second = OpenProcess(program.wstring(), L"");
    ASSERT_TRUE(second);
    const DWORD secondPid = second.GetProcessId();
    moved = std::move(second);
    EXPECT_EQ(moved.GetProcessId(), secondPid);
    // The first child's handles went with the assignment: it is reaped.
    EXPECT_TRUE(vlibtest::WaitFor([&] { return !Zombie(pid); }));

    moved.CloseHandles();
    EXPECT_FALSE(moved);
    EXPECT_EQ(moved.GetProcessId(), secondPid);  // the ids stay
    EXPECT_TRUE(vlibtest::WaitFor([&] { return !Zombie(secondPid); }));
}

}  // namespace
