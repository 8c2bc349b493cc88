// The replace-by-rename writer: saves of one file that overlap, short
// temporary names, and the Windows errors of refused replacements (the
// properties of the file that comes back are checked through the settings
// and JSON saves, tests/support/SaveChecks.h).
#include "platform/kernel/ReplacingFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/LastError.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;
using vplatform::ReplacingFileWriter;

using vlibtest::Names;
using vlibtest::Wide;

TEST(ReplacingFile, OverlappingSavesOfOneFileEachReplaceItWhole) {
    vlibtest::TempDir dir;
    const fs::path file = dir.Write(std::string(200, 'f') + ".json", "old");
    ReplacingFileWriter first;
    ASSERT_EQ(first.Open(Wide(file)), ERROR_SUCCESS);
    ASSERT_EQ(first.Write("first"), ERROR_SUCCESS);
    // The first save's temporary file is in use: the second leaves it alone.
    const std::vector<std::string> during = Names(dir.Path());
    ASSERT_EQ(during.size(), 2u);
    EXPECT_LE(std::min(during[0].size(), during[1].size()), 16u);  // short, whatever the name's length
    EXPECT_EQ(vplatform::ReplaceFileContent(Wide(file), "second"), ERROR_SUCCESS);
    EXPECT_EQ(vlibtest::TempDir::Read(file), "second");
    EXPECT_EQ(Names(dir.Path()).size(), 2u);
    EXPECT_EQ(first.Commit(), ERROR_SUCCESS);
    EXPECT_EQ(vlibtest::TempDir::Read(file), "first");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{file.filename().string()});
}

TEST(ReplacingFile, RefusedReplacementsGiveWindowsErrorsAndChangeNothing) {
    vlibtest::TempDir dir;
    const fs::path readOnly = dir.Write("readonly.txt", "old");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir.Path() / "folder");
    fs::create_symlink("loop2", dir.Path() / "loop1");
    fs::create_symlink("loop1", dir.Path() / "loop2");
    const std::vector<std::string> before = Names(dir.Path());
    struct Case {
        std::wstring path;
        DWORD error;
    };
    const Case cases[] = {{Wide(readOnly), ERROR_ACCESS_DENIED},
                          {Wide(dir.Path() / "folder"), ERROR_ACCESS_DENIED},
                          {Wide(dir.Path() / "missing" / "file.txt"), ERROR_PATH_NOT_FOUND},
                          {Wide(dir.Path()) + L"/bad\xD800.txt", ERROR_INVALID_NAME},
                          {Wide(dir.Path() / "loop1"), ERROR_CANT_RESOLVE_FILENAME},
                          {L"", ERROR_PATH_NOT_FOUND}};
    for (const Case& c : cases) {
        EXPECT_TRUE(vlibtest::FailsWith(c.error, [&] { return vplatform::ReplaceFileContent(c.path, "new") == 0; }))
            << VTools::String::WideToUtf8(c.path);
    }
    EXPECT_EQ(vlibtest::TempDir::Read(readOnly), "old");
    EXPECT_EQ(Names(dir.Path()), before);
    ReplacingFileWriter unopened;
    EXPECT_EQ(unopened.Write("x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(unopened.Commit(), ERROR_INVALID_HANDLE);  // the first failure sticks
}

}  // namespace
