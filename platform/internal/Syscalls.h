// The system calls of the platform, through one table of function pointers,
// so that tests can make a call fail (ENOSPC, EIO, EACCES) or be interrupted
// (EINTR, short counts) where the real system would not do so on demand.
//
// Every call the platform makes to the operating system, the C library's
// queries of the environment, the user database and the clock included, the
// mail client's sockets, and GDI's font library and pixel allocation, goes
// through Sys(); nothing else changes the table.  The setters below are for tests only: they are exported so that the
// test binaries can reach them, but they belong to no public header and are
// not installed.  A replacement table is copied into storage of its own and
// then published with one atomic store, so a thread that calls the platform
// meanwhile sees either the old table or the new one, whole (the tests'
// SeamScope installs one for a scope).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>

#include "platform/PlatformExport.h"

// Fontconfig's and FreeType's handles, declared as their own headers declare
// them, so that includers of the table need neither library's headers.
typedef struct _FcPattern FcPattern;
typedef struct _FcConfig FcConfig;
typedef struct FT_LibraryRec_* FT_Library;
typedef struct FT_FaceRec_* FT_Face;

namespace vplatform {

struct Syscalls {
    // --- Files and folders ---
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t length);
    // statx(2); used for paths and, with AT_EMPTY_PATH, for open descriptors.
    int (*statx)(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out);
    int (*futimens)(int fd, const struct timespec times[2]);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    // An open-file-description lock on the whole file, never waiting:
    // F_WRLCK or F_RDLCK takes it (fails with EAGAIN while another
    // description holds a conflicting one), F_UNLCK gives it back.
    int (*ofd_setlk)(int fd, short type);
    // renameat2(2) relative to the current folder; flags 0 or RENAME_NOREPLACE.
    int (*rename)(const char* from, const char* to, unsigned int flags);
    int (*unlink)(const char* path);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    char* (*getcwd)(char* buffer, size_t size);
    ssize_t (*readlink)(const char* path, char* buffer, size_t size);
    // realpath(3) with a null buffer: the result is malloc'ed.
    char* (*realpath)(const char* path, char* resolved);
    // A folder's names: opendir(3), readdir(3), closedir(3).
    DIR* (*opendir)(const char* path);
    struct dirent* (*readdir)(DIR* folder);
    int (*closedir)(DIR* folder);

    // --- Process, environment and user ---
    const char* (*getenv)(const char* name);
    uid_t (*getuid)();
    pid_t (*getpid)();
    int (*gethostname)(char* name, size_t size);
    int (*getpwuid_r)(uid_t uid, struct passwd* entry, char* buffer, size_t size, struct passwd** found);
    int (*dl_iterate_phdr)(int (*callback)(struct dl_phdr_info* info, size_t size, void* data), void* data);
    int (*sigaltstack)(const stack_t* stack, stack_t* previous);

    // --- Clock and randomness ---
    // Also the time stamps of posted messages (CLOCK_MONOTONIC_COARSE).
    int (*clock_gettime)(clockid_t clock, struct timespec* now);
    // localtime_r(3): the local calendar time of `time` by the time-zone rules.
    struct tm* (*localtime_r)(const time_t* time, struct tm* out);
    ssize_t (*getrandom)(void* buffer, size_t count, unsigned int flags);

    // --- Threads and waits (threads.cpp, sync.cpp) ---
    pid_t (*gettid)();
    int (*pthread_setname_np)(pthread_t thread, const char* name);
    int (*eventfd)(unsigned int initial, int flags);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeout);

    // --- The mail client's connections (libcurl asks the mail client for them) ---
    int (*socket)(int domain, int type, int protocol);
    int (*shutdown)(int fd, int how);
    // --- Signals and crash reporting (crash_report.cpp); each of these is
    // async-signal-safe ---
    int (*sigaction)(int signal, const struct sigaction* action, struct sigaction* previous);
    int (*sigprocmask)(int how, const sigset_t* set, sigset_t* previous);
    int (*tgkill)(pid_t process, pid_t thread, int signal);
    int (*pipe2)(int fds[2], int flags);
    int (*access)(const char* path, int mode);
    // prctl(PR_GET_NAME): the calling thread's name, up to 15 bytes and a NUL.
    int (*get_thread_name)(char name[16]);
    // Thread creation, suspension and priorities (threads.cpp).
    int (*pthread_create)(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument);
    int (*pthread_sigmask)(int how, const sigset_t* set, sigset_t* old);
    // futex(2) FUTEX_WAIT_PRIVATE (`timeout` relative, null for none) and
    // FUTEX_WAKE_PRIVATE (`count` waiters); the results of syscall(2).
    long (*futex_wait)(const unsigned* address, unsigned expected, const struct timespec* timeout);
    long (*futex_wake)(const unsigned* address, int count);
    // sched_getcpu(3): the processor the calling thread runs on, or -1.
    int (*sched_getcpu)();
    int (*setpriority)(int which, id_t who, int priority);

    // The shared table of registered window messages (user/message_table.cpp).
    int (*openat)(int dirfd, const char* path, int flags, mode_t mode);
    uid_t (*geteuid)();
    // Processes (process.cpp, the clipboard keeper): spawning, process
    // descriptors, their signals and their ends.  waitid is called only for
    // P_PIDFD, never for "any child".
    int (*posix_spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
    int (*pidfd_open)(pid_t pid, unsigned int flags);
    int (*pidfd_send_signal)(int pidfd, int signal, siginfo_t* info, unsigned int flags);
    int (*waitid)(idtype_t type, id_t id, siginfo_t* info, int options);
    int (*kill)(pid_t pid, int signal);  // only for a child that has no descriptor

    // Named objects (sync.cpp): the locks on their files.
    int (*flock)(int fd, int operation);

    // The crash reporter's connection (crash_report.cpp): send(2) is always
    // given MSG_NOSIGNAL; set_ptracer is prctl(PR_SET_PTRACER).
    int (*socketpair)(int domain, int type, int protocol, int fds[2]);
    ssize_t (*send)(int fd, const void* buffer, size_t count, int flags);
    ssize_t (*recv)(int fd, void* buffer, size_t count, int flags);
    int (*set_ptracer)(pid_t pid);
    // The report folder: made and filled relative to the save folder's
    // descriptor, its descriptor handed to the reporter (SCM_RIGHTS).
    ssize_t (*sendmsg)(int fd, const struct msghdr* message, int flags);
    int (*mkdirat)(int dirfd, const char* path, mode_t mode);
    int (*unlinkat)(int dirfd, const char* path, int flags);
    // Modules (module.cpp, resource.cpp): files mapped as data and libraries
    // loaded and unloaded.  dlopen and dlclose report failures through
    // dlerror, not errno.
    void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
    int (*munmap)(void* address, size_t length);
    void* (*dlopen)(const char* file, int mode);
    int (*dlclose)(void* handle);
    // dlinfo(RTLD_DI_LINKMAP): the library's entry in the loader's list.
    int (*dlinfo_linkmap)(void* handle, struct link_map** map);
    // Reads and writes at an explicit offset (the message table's records: a
    // forked child's inherited descriptor shares its offset with the parent).
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
    // mkdtemp(3): the private fallback folder of the user's shared state.
    char* (*mkdtemp)(char* path_template);
    // Named events watch their files for changes made by other processes.
    int (*inotify_init1)(int flags);
    int (*inotify_add_watch)(int fd, const char* path, uint32_t mask);
    int (*inotify_rm_watch)(int fd, int watch);
    // The standard handles: their own descriptor (fcntl F_DUPFD_CLOEXEC) and
    // whether it is a terminal (isatty(3)).
    int (*dupfd_cloexec)(int fd);
    int (*isatty)(int fd);

    // --- Fonts and bitmaps (gdi/) ---
    // FcFontMatch(3) without its result code: the best font for `pattern`,
    // null when there is none.
    FcPattern* (*fc_font_match)(FcConfig* config, FcPattern* pattern);
    // FT_New_Face: opens face `index` of the font file `path`; 0 or
    // FreeType's error code.
    int (*ft_new_face)(FT_Library library, const char* path, long index, FT_Face* face);
    // calloc(3): the zero-filled pixels of a bitmap, released with free().
    void* (*calloc)(size_t count, size_t size);
};

// The table in use.
const Syscalls& Sys();

namespace test {

// The real system calls, for a replacement table to fall back on.
VPLATFORM_API const Syscalls& RealSyscalls();
// Makes a copy of `table` the table in use.
VPLATFORM_API void SetSyscallsForTesting(const Syscalls& table);
// Returns to the real system calls.
VPLATFORM_API void RestoreSyscalls();

}  // namespace test
}  // namespace vplatform
