// A fixture that checks that a test leaves as many kernel, USER and GDI
// handles open as it found.
#pragma once

#include <gtest/gtest.h>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Threads.h"
#include "tests/support/LastError.h"
#include "tests/support/Threads.h"

namespace vlibtest {

struct HandleCounts {
    DWORD kernel = 0, user = 0, gdi = 0;
    static HandleCounts Now() {
        HandleCounts counts;
        GetProcessHandleCount(GetCurrentProcess(), &counts.kernel);
        counts.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
        counts.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        return counts;
    }
};

class HandleCountTest : public ::testing::Test {
protected:
    void TearDown() override {
        const HandleCounts now = HandleCounts::Now();
        EXPECT_EQ(now.kernel, m_start.kernel) << "kernel handles leaked";
        EXPECT_EQ(now.user, m_start.user) << "USER handles leaked";
        EXPECT_EQ(now.gdi, m_start.gdi) << "GDI handles leaked";
    }
    const HandleCounts m_start = HandleCounts::Now();
};

}  // namespace vlibtest
