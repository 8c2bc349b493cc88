// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vlibtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Writes `bytes` to the file `name` in the folder and returns its path.
    std::filesystem::path Write(const std::string& name, const std::string& bytes) const;
    // Reads a whole file as bytes.
    static std::string Read(const std::filesystem::path& file);

private:
    std::filesystem::path m_path;
};

// The names in `folder`, sorted (to see, say, that no temporary file stayed).
std::vector<std::string> Names(const std::filesystem::path& folder);

// The wide (UTF-16) form of a path, as the library's wide functions take it.
std::wstring Wide(const std::filesystem::path& path);

// Fixture giving each test its own temporary folder.
class TempDirTest : public ::testing::Test {
protected:
    TempDir m_dir;
};

}  // namespace vlibtest
