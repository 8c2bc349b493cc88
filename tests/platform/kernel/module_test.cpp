// Module handles and file names: the executable, a loaded library by name, by
// path and by handle, truncation of a short buffer and unknown modules.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/kernel/Module.h"
#include "tests/support/LastError.h"
#include "tests/support/Seam.h"

namespace {

namespace fs = std::filesystem;
using vlibtest::FailsWith;

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

int InThisExecutable() {
    return 0;
}

// The handle is the image start, as dladdr reports it for an address inside.
HMODULE ModuleOf(const void* address, std::string* file = nullptr) {
    Dl_info info{};
    if (dladdr(address, &info) == 0) return nullptr;
    if (file != nullptr) *file = fs::canonical(info.dli_fname).string();
    return static_cast<HMODULE>(info.dli_fbase);
}

std::wstring FileName(HMODULE module) {
    wchar_t buffer[4096];
    return std::wstring(buffer, GetModuleFileNameW(module, buffer, 4096));
}

TEST(Module, HandlesAreImageStartsOfTheExecutableAndLibraries) {
    std::string platformFile;
    const HMODULE platform = ModuleOf(reinterpret_cast<const void*>(&GetModuleFileNameW), &platformFile);
    const HMODULE exe = ModuleOf(reinterpret_cast<const void*>(&InThisExecutable));
    const std::wstring exeFile = Widen(fs::read_symlink("/proc/self/exe").string());
    ASSERT_NE(platform, nullptr);
    EXPECT_NE(platform, exe);
    EXPECT_TRUE(vlibtest::SucceedsQuietly([&] {
        return GetModuleHandleW(nullptr) == exe && FileName(nullptr) == exeFile && FileName(exe) == exeFile &&
               // By file name (with or without the version suffix) and by path.
               GetModuleHandleW(Widen(fs::path(FileName(platform)).filename()).c_str()) == platform &&
               GetModuleHandleW(L"libVLibPlatform.so") == platform &&
               GetModuleHandleW(Widen(platformFile).c_str()) == platform;
    }));
    EXPECT_EQ(fs::canonical(fs::path(FileName(platform))).string(), platformFile);
}

TEST(Module, ShortBuffersTruncateAndUnknownModulesFail) {
    const std::wstring full = FileName(nullptr);
    ASSERT_GT(full.size(), 4u);
    wchar_t buffer[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#'};
    EXPECT_TRUE(FailsWith(ERROR_INSUFFICIENT_BUFFER, [&] { return GetModuleFileNameW(nullptr, buffer, 4) != 4; }));
    EXPECT_EQ(std::wstring(buffer), full.substr(0, 3));
    EXPECT_EQ(buffer[4], L'#');
    // Exactly the length: no room for the NUL, so still cut.
    std::wstring exact(full.size(), L'#'), roomy(full.size() + 1, L'#');
    const auto size = static_cast<DWORD>(full.size());
    EXPECT_TRUE(
        FailsWith(ERROR_INSUFFICIENT_BUFFER, [&] { return GetModuleFileNameW(nullptr, exact.data(), size) != size; }));
    EXPECT_TRUE(vlibtest::SucceedsQuietly([&] { return GetModuleFileNameW(nullptr, roomy.data(), size + 1) == size; }));
    int local = 0;
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND,
                          [&] { return GetModuleFileNameW(reinterpret_cast<HMODULE>(&local), buffer, 8) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [] { return GetModuleHandleW(L"libnothing-here.so"); }));
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [] { return GetModuleHandleW(L"libVLibPlatform"); }));  // a prefix
}

// The loader's list and the executable's link are read through the
// system-call table; their failures give Windows errors.
TEST(Module, FailedSystemCallsGiveWindowsErrors) {
    wchar_t buffer[512];
    {
        const vlibtest::SeamScope seam(
            [](auto& s) { s.readlink = [](const char*, char*, size_t) -> ssize_t { return errno = EACCES, -1; }; });
        EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return GetModuleFileNameW(nullptr, buffer, 512) != 0; }));
    }
    const HMODULE exe = ModuleOf(reinterpret_cast<void*>(&InThisExecutable));
    const vlibtest::SeamScope seam([](auto& s) { s.dl_iterate_phdr = [](auto, void*) { return 0; }; });
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [] { return GetModuleHandleW(nullptr); }));
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [&] { return GetModuleFileNameW(exe, buffer, 512) != 0; }));
}

}  // namespace
