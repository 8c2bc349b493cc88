// Points the "ROOT" certificate store at another PEM bundle for one scope.
#pragma once

#include <string>

#include "platform/crypt/Crypt.h"

namespace vlibtest {

class RootFileScope {
public:
    explicit RootFileScope(const std::string& file) { vplatformSetRootCertificateFile(file.c_str()); }
    ~RootFileScope() { vplatformSetRootCertificateFile(nullptr); }
    RootFileScope(const RootFileScope&) = delete;
    RootFileScope& operator=(const RootFileScope&) = delete;
};

}  // namespace vlibtest
