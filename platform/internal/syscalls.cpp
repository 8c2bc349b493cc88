// The table of system calls and its test-only replacement.
#include "platform/internal/Syscalls.h"

#include <dlfcn.h>
#include <linux/futex.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <atomic>
#include <deque>
#include <mutex>

namespace vplatform {
namespace {

// open(2) is variadic; the table needs a fixed signature.
int Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int OpenAt(int dirfd, const char* path, int flags, mode_t mode) {
    return ::openat(dirfd, path, flags, mode);
}

const char* GetEnv(const char* name) {
    return ::getenv(name);
}

int Rename(const char* from, const char* to, unsigned int flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

int Tgkill(pid_t tgid, pid_t tid, int signal) {
    return static_cast<int>(::syscall(SYS_tgkill, tgid, tid, signal));
}

long FutexWait(const unsigned* address, unsigned expected, const struct timespec* timeout) {
    return ::syscall(SYS_futex, address, FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

long FutexWake(const unsigned* address, int count) {
    return ::syscall(SYS_futex, address, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

// setpriority(2) takes an enum in glibc's declaration.
int SetPriority(int which, id_t who, int priority) {
    return ::setpriority(static_cast<__priority_which_t>(which), who, priority);
}

int SetPtracer(pid_t pid) {
    return ::prctl(PR_SET_PTRACER, static_cast<unsigned long>(pid), 0, 0, 0);
}

// glibc 2.36 has no wrappers for the process-descriptor calls.
int PidfdOpen(pid_t pid, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags));
}

int PidfdSendSignal(int pidfd, int signal, siginfo_t* info, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, info, flags));
}

int OfdSetLock(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however it grows
    return ::fcntl(fd, F_OFD_SETLK, &lock);
}

int GetThreadName(char name[16]) {
    return ::prctl(PR_GET_NAME, name, 0, 0, 0);
}

int DlinfoLinkMap(void* handle, struct link_map** map) {
    return ::dlinfo(handle, RTLD_DI_LINKMAP, map);
}

constexpr Syscalls kReal = {
    .open = Open,
    .close = ::close,
    .read = ::read,
    .write = ::write,
    .lseek = ::lseek,
    .fsync = ::fsync,
    .ftruncate = ::ftruncate,
    .statx = ::statx,
    .futimens = ::futimens,
    .fchmod = ::fchmod,
    .fchown = ::fchown,
    .ofd_setlk = OfdSetLock,
    .rename = Rename,
    .unlink = ::unlink,
    .mkdir = ::mkdir,
    .rmdir = ::rmdir,
    .getcwd = ::getcwd,
    .readlink = ::readlink,
    .realpath = ::realpath,
    .opendir = ::opendir,
    .readdir = ::readdir,
    .closedir = ::closedir,
    .getenv = GetEnv,
    .getuid = ::getuid,
    .getpid = ::getpid,
    .gethostname = ::gethostname,
    .getpwuid_r = ::getpwuid_r,
    .dl_iterate_phdr = ::dl_iterate_phdr,
    .sigaltstack = ::sigaltstack,
    .clock_gettime = ::clock_gettime,
    .localtime_r = ::localtime_r,
    .getrandom = ::getrandom,
    .gettid = ::gettid,
    .pthread_setname_np = ::pthread_setname_np,
    .eventfd = ::eventfd,
    .poll = ::poll,
    .socket = ::socket,
    .shutdown = ::shutdown,
    .sigaction = ::sigaction,
    .sigprocmask = ::sigprocmask,
    .tgkill = Tgkill,
    .pipe2 = ::pipe2,
    .access = ::access,
    .get_thread_name = GetThreadName,
    .pthread_create = ::pthread_create,
    .pthread_sigmask = ::pthread_sigmask,
    .futex_wait = FutexWait,
    .futex_wake = FutexWake,
    .sched_getcpu = ::sched_getcpu,
    .setpriority = SetPriority,
    .openat = OpenAt,
    .geteuid = ::geteuid,
    .posix_spawn = ::posix_spawn,
    .pidfd_open = PidfdOpen,
    .pidfd_send_signal = PidfdSendSignal,
    .waitid = ::waitid,
    .kill = ::kill,
    .flock = ::flock,
    .socketpair = ::socketpair,
    .send = ::send,
    .recv = ::recv,
    .set_ptracer = SetPtracer,
    .sendmsg = ::sendmsg,
    .mkdirat = ::mkdirat,
    .unlinkat = ::unlinkat,
    .mmap = ::mmap,
    .munmap = ::munmap,
    .dlopen = ::dlopen,
    .dlclose = ::dlclose,
    .dlinfo_linkmap = DlinfoLinkMap,
    .pread = ::pread,
    .pwrite = ::pwrite,
    .mkdtemp = ::mkdtemp,
    .inotify_init1 = ::inotify_init1,
    .inotify_add_watch = ::inotify_add_watch,
    .inotify_rm_watch = ::inotify_rm_watch,
    .dupfd_cloexec = [](int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); },
    .isatty = ::isatty,
    .fc_font_match =
        [](FcConfig* config, FcPattern* pattern) {
            FcResult result = FcResultNoMatch;
            return FcFontMatch(config, pattern, &result);
        },
    .ft_new_face = FT_New_Face,
    .calloc = ::calloc,
};

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
    // Every replacement keeps storage of its own for the rest of the process:
    // a thread may still be calling through the previous one.
    static std::mutex lock;
    static std::deque<Syscalls> tables;
    const std::lock_guard guard(lock);
    tables.push_back(table);
    g_table.store(&tables.back(), std::memory_order_release);
}

void RestoreSyscalls() {
    g_table.store(&kReal, std::memory_order_release);
}

}  // namespace test
}  // namespace vplatform
