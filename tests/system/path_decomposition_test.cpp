// Taking Windows-form paths apart: file name, stem, folder, extension and
// the path without its extension, for drive, UNC, device and '/' paths.
#include <gtest/gtest.h>

#include <string>

#include "system/Path.h"
#include "text/StringConversion.h"

namespace {

using namespace VTools::Path;

TEST(PathDecomposition, DriveUncDeviceAndSlashPathsFollowTheWindowsRules) {
    const struct Row {
        const wchar_t *path, *name, *stem, *folder, *extension, *withoutExtension;
    } rows[] = {
        {L"C:\\Data\\report.final.txt", L"report.final.txt", L"report.final", L"C:\\Data", L".txt",
         L"C:\\Data\\report.final"},
        {L"C:\\Data\\", L"", L"", L"C:\\Data", L"", L"C:\\Data\\"},
        {L"C:\\report.txt", L"report.txt", L"report", L"C:\\", L".txt", L"C:\\report"},
        {L".profile", L".profile", L".profile", L"", L"", L".profile"},
        {L"C:\\Data\\name.", L"name.", L"name", L"C:\\Data", L".", L"C:\\Data\\name"},
        {L"..", L"..", L"..", L"", L"", L".."},
        {L"report.txt", L"report.txt", L"report", L"", L".txt", L"report"},
        {L"C:\\Data\\file.txt:meta", L"file.txt:meta", L"file", L"C:\\Data", L".txt", L"C:\\Data\\file"},
        // Beyond the basic table: roots, repeated separators, stream suffixes.
        {L"C:\\", L"", L"", L"C:\\", L"", L"C:\\"},
        {L"C:", L"", L"", L"C:", L"", L"C:"},
        {L"C:report.txt", L"report.txt", L"report", L"C:", L".txt", L"C:report"},
        {L"C:\\Data\\\\\\x.y", L"x.y", L"x", L"C:\\Data", L".y", L"C:\\Data\\\\\\x"},
        {L"C:\\Data\\.", L".", L".", L"C:\\Data", L"", L"C:\\Data\\."},
        {L"C:\\Data\\name:stream", L"name:stream", L"name", L"C:\\Data", L"", L"C:\\Data\\name"},
        {L"C:\\Data\\a.b:s.t", L"a.b:s.t", L"a", L"C:\\Data", L".b", L"C:\\Data\\a"},
        {L"C:\\dir.d\\file", L"file", L"file", L"C:\\dir.d", L"", L"C:\\dir.d\\file"},
        {L"", L"", L"", L"", L"", L""},
        // "\\server" is the root name; the share is the first element.
        {L"\\\\server\\share\\dir\\f.txt", L"f.txt", L"f", L"\\\\server\\share\\dir", L".txt",
         L"\\\\server\\share\\dir\\f"},
        {L"\\\\server\\share\\f.txt", L"f.txt", L"f", L"\\\\server\\share", L".txt", L"\\\\server\\share\\f"},
        {L"\\\\server\\share", L"share", L"share", L"\\\\server\\", L"", L"\\\\server\\share"},
        {L"\\\\server", L"", L"", L"\\\\server", L"", L"\\\\server"},
        {L"\\\\?\\C:\\x\\y.z", L"y.z", L"y", L"\\\\?\\C:\\x", L".z", L"\\\\?\\C:\\x\\y"},
        {L"\\\\.\\pipe\\name", L"name", L"name", L"\\\\.\\pipe", L"", L"\\\\.\\pipe\\name"},
        {L"//server/share/a.b", L"a.b", L"a", L"//server/share", L".b", L"//server/share/a"},
        {L"/home/user/notes.md", L"notes.md", L"notes", L"/home/user", L".md", L"/home/user/notes"},
        {L"/", L"", L"", L"/", L"", L"/"},
        {L"/file", L"file", L"file", L"/", L"", L"/file"},
        {L"C:/Data/mixed\\x.tar.gz", L"x.tar.gz", L"x.tar", L"C:/Data/mixed", L".gz", L"C:/Data/mixed\\x.tar"},
        {L"dir/", L"", L"", L"dir", L"", L"dir/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "path: " << VTools::String::WideToUtf8(row.path));
        EXPECT_EQ(GetFileName(row.path, true), row.name);
        EXPECT_EQ(GetFileName(row.path, false), row.stem);
        EXPECT_EQ(GetFileFolder(row.path), row.folder);
        EXPECT_EQ(GetExtension(row.path), row.extension);
        EXPECT_EQ(RemoveExtension(row.path), row.withoutExtension);
    }
}

}  // namespace
