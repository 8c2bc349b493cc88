// Sets the process's ANSI code page for one test and restores the previous
// setting afterwards.
#pragma once

#include "platform/nls/CodePage.h"

namespace vlibtest {

class AcpScope {
public:
    explicit AcpScope(UINT codePage) { SetACP(codePage); }
    ~AcpScope() { SetACP(0); }
    AcpScope(const AcpScope&) = delete;
    AcpScope& operator=(const AcpScope&) = delete;
};

}  // namespace vlibtest
