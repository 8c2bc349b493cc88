// The table of file-system calls and its test-only replacement.
#include "platform/internal/Syscalls.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>

namespace vplatform {
namespace {

// open(2) is variadic; the table needs a fixed signature.
int Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int Rename(const char* from, const char* to, unsigned int flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

const Syscalls kReal = {
    Open,       ::close, ::read,   ::write, ::lseek, ::fsync,  ::ftruncate, ::statx,
    ::futimens, Rename,  ::unlink, ::mkdir, ::rmdir, ::getcwd, ::socket,    ::shutdown,
};

Syscalls g_replacement = kReal;
std::atomic<const Syscalls*> g_table{&kReal};

}  // namespace

const Syscalls& Sys() {
    return *g_table.load(std::memory_order_acquire);
}

namespace test {

const Syscalls& RealSyscalls() {
    return kReal;
}

void SetSyscallsForTesting(const Syscalls& table) {
    g_replacement = table;
    g_table.store(&g_replacement, std::memory_order_release);
}

void RestoreSyscalls() {
    g_table.store(&kReal, std::memory_order_release);
}

}  // namespace test
}  // namespace vplatform
