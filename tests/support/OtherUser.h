// Acting as other local users (tests that need them run as root and skip
// otherwise): user ids no account has, a forked child that becomes one of
// them, and the command prefix that starts a program as one.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vlibtest {

// The `index`th user id (0, 1…) that no account of the system has.
inline uid_t UnusedUid(int index) {
    for (uid_t uid = 61000 + static_cast<uid_t>(getpid() % 1000) * 4;; ++uid) {
        if (getpwuid(uid) == nullptr && index-- == 0) return uid;
    }
}

// Runs `action` in a forked child as `uid` (group `uid` too): its result is
// the child's exit status; -1 when the child could not be made or become
// the user.  `action` may only make system calls (the child of a process with
// threads must not take locks).
template <class Action>
int RunAsUser(uid_t uid, Action action) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(255);
        _exit(action());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 255) return -1;
    return WEXITSTATUS(status);
}

// The argv prefix that runs a program as `uid` (group `uid`, no others).
inline std::vector<std::string> AsUser(uid_t uid) {
    return {"setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid), "--clear-groups"};
}

}  // namespace vlibtest
