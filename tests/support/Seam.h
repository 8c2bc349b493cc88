// Failing system calls for one scope, through the platform's seam: `edit`
// changes a copy of the real table, e.g.
//   const vlibtest::SeamScope seam([](auto& s) { s.fsync = [](int) { return errno = EIO, -1; }; });
#pragma once

#include "platform/internal/Syscalls.h"

namespace vlibtest {

class SeamScope {
public:
    template <class Edit>
    explicit SeamScope(Edit edit) {
        vplatform::Syscalls table = vplatform::test::RealSyscalls();
        edit(table);
        vplatform::test::SetSyscallsForTesting(table);
    }
    ~SeamScope() { vplatform::test::RestoreSyscalls(); }
    SeamScope(const SeamScope&) = delete;
    SeamScope& operator=(const SeamScope&) = delete;
};

}  // namespace vlibtest
