// Checks shared by the tests of every save that replaces a whole file
// (settings files, JSON files): the file that comes back is the same file.
#pragma once

#include <functional>
#include <string>

namespace vlibtest {

// A save of new content to the file at the wide path; true on success.
using Save = std::function<bool(const std::wstring& path)>;

// Runs `save` on: a private (0600) file owned by another user (when running
// as root), a read-only file, a symbolic link to a file in another folder, a
// writable file in a folder that refuses new names, a name of 250 bytes, and
// a file beside the temporary file of a save that was killed.  Each case
// reports its failures through GoogleTest, named by `what`.
void ExpectSavesKeepTheFile(const Save& save, const std::string& what);

}  // namespace vlibtest
