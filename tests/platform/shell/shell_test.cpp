// Known folders from the XDG directories of a temporary home: defaults,
// the user's choices, creation, verification and failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/shell/Shell.h"
#include "tests/support/EnvScope.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

using vlibtest::EnvScope;

class Shell : public vlibtest::TempDirTest {
protected:
    // The folder as text, or the failure code.
    std::string Get(REFKNOWNFOLDERID id, DWORD flags, HRESULT* result = nullptr) {
        PWSTR path = reinterpret_cast<PWSTR>(this);  // overwritten on every return
        const HRESULT hr = SHGetKnownFolderPath(id, flags, nullptr, &path);
        if (result != nullptr) *result = hr;
        if (FAILED(hr)) {
            EXPECT_EQ(path, nullptr);
            return {};
        }
        std::string text;
        for (const wchar_t* c = path; *c != 0; ++c) text += static_cast<char>(*c);  // ASCII paths in these tests
        CoTaskMemFree(path);
        return text;
    }
    std::string Home() const { return m_dir.Path().string(); }
    void UserDirs(const std::string& content) const {
        fs::create_directories(m_dir.Path() / ".config");
        std::ofstream(m_dir.Path() / ".config" / "user-dirs.dirs") << content;
    }

    EnvScope m_home{"HOME", m_dir.Path().c_str()};
    EnvScope m_config{"XDG_CONFIG_HOME", nullptr};
    EnvScope m_data{"XDG_DATA_HOME", nullptr};
};

TEST_F(Shell, DefaultsLieUnderHomeAndAreCreatedOnRequest) {
    const struct {
        const KNOWNFOLDERID* id;
        const char* relative;
    } cases[] = {{&FOLDERID_Documents, "/Documents"},
                 {&FOLDERID_Desktop, "/Desktop"},
                 {&FOLDERID_Downloads, "/Downloads"},
                 {&FOLDERID_LocalAppData, "/.local/share"},
                 {&FOLDERID_RoamingAppData, "/.config"}};
    for (const auto& c : cases) {
        HRESULT hr = S_OK;
        EXPECT_EQ(Get(*c.id, KF_FLAG_DEFAULT, &hr), "") << c.relative;  // missing, not verified
        EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(Get(*c.id, KF_FLAG_DONT_VERIFY), Home() + c.relative);
        EXPECT_EQ(Get(*c.id, KF_FLAG_CREATE), Home() + c.relative);
        EXPECT_EQ(fs::status(Home() + c.relative).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_EQ(Get(*c.id, KF_FLAG_DEFAULT), Home() + c.relative);  // exists now
    }
}

TEST_F(Shell, UserChoicesAndBaseVariablesApplyUnlessTheDefaultIsAsked) {
    {
        const EnvScope noHome("HOME", "");  // taken from the user database
        const std::string documents = Get(FOLDERID_Documents, KF_FLAG_DONT_VERIFY);
        EXPECT_TRUE(documents.starts_with('/') && fs::path(documents).filename() == "Documents") << documents;
    }
    UserDirs(
        "# written by xdg-user-dirs-update\n"
        "XDG_DOCUMENTS_DIR=\"$HOME/Dokumenty\"\n"
        "XDG_DESKTOP_DIR=\"/elsewhere/Pulpit\"\n"
        "  XDG_DOWNLOAD_DIR=\"$HOME/Pobrane\"\n"
        "XDG_DOWNLOAD_DIR=\"$HOME/Moje\\\"pliki\"\n"
        "XDG_MUSIC_DIR=\"relative/ignored\"\n");
    EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_DONT_VERIFY), Home() + "/Dokumenty");
    EXPECT_EQ(Get(FOLDERID_Desktop, KF_FLAG_DONT_VERIFY), "/elsewhere/Pulpit");
    EXPECT_EQ(Get(FOLDERID_Downloads, KF_FLAG_DONT_VERIFY), Home() + "/Moje\"pliki");  // the last line wins
    EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_DONT_VERIFY | KF_FLAG_DEFAULT_PATH), Home() + "/Documents");
    EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_CREATE | KF_FLAG_DEFAULT_PATH), Home() + "/Documents");
    EXPECT_FALSE(fs::exists(m_dir.Path() / "Dokumenty"));

    // A moved configuration folder carries user-dirs.dirs with it.
    fs::create_directories(m_dir.Path() / "cfg");
    std::ofstream(m_dir.Path() / "cfg" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Docs/\"\n";
    const std::string config = Home() + "/cfg", data = Home() + "/data";
    EnvScope configHome("XDG_CONFIG_HOME", config.c_str());
    EnvScope dataHome("XDG_DATA_HOME", data.c_str());
    EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_DONT_VERIFY), Home() + "/Docs");
    EXPECT_EQ(Get(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT), config);
    EXPECT_EQ(Get(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY), data);
    EnvScope relative("XDG_DATA_HOME", "not/absolute");
    EXPECT_EQ(Get(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY), Home() + "/.local/share");
}

TEST_F(Shell, BadArgumentsAndBlockedFoldersFail) {
    HRESULT hr = S_OK;
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(Get(unknown, KF_FLAG_CREATE, &hr), "");
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, nullptr), E_INVALIDARG);
    PWSTR path = nullptr;
    EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_Documents, 0, reinterpret_cast<HANDLE>(-1), &path), E_INVALIDARG);
    EXPECT_EQ(path, nullptr);

    std::ofstream(m_dir.Path() / "Documents") << "a file, not a folder";
    EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_CREATE, &hr), "");
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_DEFAULT, &hr), "");
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_DIRECTORY));
}

int g_mkdirError = 0;

// The environment, the user database and folder creation go through the
// system-call table; their failures give the HRESULTs of Windows errors.
TEST_F(Shell, FailedSystemCallsGiveWindowsErrors) {
    const std::pair<int, HRESULT> cases[] = {{EACCES, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
                                             {EROFS, HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT)},
                                             {ENOSPC, HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
                                             {0, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}};  // no home at all
    for (const auto& [error, expected] : cases) {
        g_mkdirError = error;
        const vlibtest::SeamScope seam([noHome = error == 0](auto& s) {
            s.mkdir = [](const char*, mode_t) { return errno = g_mkdirError, -1; };
            if (!noHome) return;
            s.getenv = [](const char*) -> const char* { return nullptr; };
            s.getpwuid_r = [](uid_t, passwd*, char*, size_t, passwd** found) { return *found = nullptr, EIO; };
        });
        HRESULT result = S_OK;
        EXPECT_EQ(Get(FOLDERID_Documents, KF_FLAG_CREATE, &result), "");
        EXPECT_EQ(result, expected) << error;
    }
    EXPECT_FALSE(fs::exists(m_dir.Path() / "Documents"));
}

}  // namespace
