// Module handles and file names: the executable, a loaded library by name, by
// path and by handle, truncation of a short buffer and unknown modules.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/Module.h"

namespace {

namespace fs = std::filesystem;
constexpr DWORD kSentinel = 0xdeadbeef;

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The handle is the image start, as dladdr reports it for an address inside.
HMODULE ModuleOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 ? static_cast<HMODULE>(info.dli_fbase) : nullptr;
}

int InThisExecutable() {
    return 0;
}

std::string FileOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 ? fs::canonical(info.dli_fname).string() : std::string();
}

std::wstring FileName(HMODULE module) {
    wchar_t buffer[4096];
    const DWORD length = GetModuleFileNameW(module, buffer, 4096);
    return std::wstring(buffer, length);
}

TEST(Module, HandlesAreImageStartsOfTheExecutableAndLibraries) {
    SetLastError(kSentinel);
    const HMODULE exe = GetModuleHandleW(nullptr);
    EXPECT_EQ(exe, ModuleOf(reinterpret_cast<const void*>(&InThisExecutable)));
    const HMODULE platform = ModuleOf(reinterpret_cast<const void*>(&GetModuleFileNameW));
    ASSERT_NE(platform, nullptr);
    EXPECT_NE(platform, exe);

    const std::string platformFile = FileOf(reinterpret_cast<const void*>(&GetModuleFileNameW));
    const std::wstring exeFile = Widen(fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(FileName(nullptr), exeFile);
    EXPECT_EQ(FileName(exe), exeFile);
    EXPECT_EQ(fs::canonical(fs::path(FileName(platform))).string(), platformFile);

    // By file name (with or without the version suffix) and by path.
    const std::string loadedName = fs::path(FileName(platform)).filename().string();  // libVLibPlatform.so.0
    EXPECT_EQ(GetModuleHandleW(Widen(loadedName).c_str()), platform);
    EXPECT_EQ(GetModuleHandleW(L"libVLibPlatform.so"), platform);
    EXPECT_EQ(GetModuleHandleW(Widen(platformFile).c_str()), platform);
    EXPECT_EQ(GetLastError(), kSentinel);
}

TEST(Module, ShortBuffersTruncateAndUnknownModulesFail) {
    const std::wstring full = FileName(nullptr);
    ASSERT_GT(full.size(), 4u);
    wchar_t buffer[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#'};
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 4), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(buffer), full.substr(0, 3));
    EXPECT_EQ(buffer[4], L'#');

    // Exactly the length: no room for the NUL, so still cut.
    std::wstring exact(full.size(), L'#');
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(nullptr, exact.data(), static_cast<DWORD>(exact.size())), exact.size());
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::wstring roomy(full.size() + 1, L'#');
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(nullptr, roomy.data(), static_cast<DWORD>(roomy.size())), full.size());
    EXPECT_EQ(GetLastError(), kSentinel);

    int local = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(&local), buffer, 8), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleW(L"libnothing-here.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleW(L"libVLibPlatform"), nullptr);  // a prefix is no name
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

ssize_t RefusedReadlink(const char*, char*, size_t) {
    errno = EACCES;
    return -1;
}

int NoLoadedObjects(int (*)(dl_phdr_info*, size_t, void*), void*) {
    return 0;
}

// The loader's list and the executable's link are read through the
// system-call table; their failures give Windows errors.
TEST(Module, FailedSystemCallsGiveWindowsErrors) {
    wchar_t buffer[512];
    {
        vplatform::Syscalls table = vplatform::test::RealSyscalls();
        table.readlink = RefusedReadlink;
        const vplatform::test::ScopedSyscallsForTesting scope(table);
        SetLastError(kSentinel);
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 512), 0u);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    vplatform::Syscalls table = vplatform::test::RealSyscalls();
    table.dl_iterate_phdr = NoLoadedObjects;
    const vplatform::test::ScopedSyscallsForTesting scope(table);
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetModuleFileNameW(ModuleOf(reinterpret_cast<void*>(&InThisExecutable)), buffer, 512), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
