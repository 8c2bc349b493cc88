// The sentinel check of a Windows-style call: the last error is set to a
// value no call produces, then the call's result and last error are checked.
#pragma once

#include <gtest/gtest.h>

#include "platform/WinError.h"

namespace vlibtest {

constexpr DWORD kSentinel = 0xdeadbeef;

// Runs `call` (true when it succeeded) after setting the sentinel; passes
// when it failed with `error`.
template <class Call>
::testing::AssertionResult FailsWith(DWORD error, Call call) {
    SetLastError(kSentinel);
    if (call()) return ::testing::AssertionFailure() << "succeeded";
    if (GetLastError() != error) return ::testing::AssertionFailure() << "last error " << GetLastError();
    return ::testing::AssertionSuccess();
}

// Runs `call` after setting the sentinel; passes when it succeeded and left
// the last error alone.
template <class Call>
::testing::AssertionResult SucceedsQuietly(Call call) {
    SetLastError(kSentinel);
    if (!call()) return ::testing::AssertionFailure() << "failed with " << GetLastError();
    if (GetLastError() != kSentinel) return ::testing::AssertionFailure() << "last error " << GetLastError();
    return ::testing::AssertionSuccess();
}

}  // namespace vlibtest
