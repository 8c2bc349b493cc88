// Test-only control of the log.  Exported so that the test binaries can reach
// it, but part of no public header and not installed.
#pragma once

#include <chrono>

#include "VLibExport.h"

namespace VTools::internal {

// The delay between Log::Open and the clean-up of the log's folder, 10 s
// unless a test shortens it; it applies to the next Open.  A test restores it
// before it ends (ScopedLogCleanDelay does both).
VLIB_API void SetLogCleanDelayForTesting(std::chrono::milliseconds delay);

class ScopedLogCleanDelay {
public:
    explicit ScopedLogCleanDelay(std::chrono::milliseconds delay) { SetLogCleanDelayForTesting(delay); }
    ~ScopedLogCleanDelay() { SetLogCleanDelayForTesting(std::chrono::seconds(10)); }
    ScopedLogCleanDelay(const ScopedLogCleanDelay&) = delete;
    ScopedLogCleanDelay& operator=(const ScopedLogCleanDelay&) = delete;
};

}  // namespace VTools::internal
