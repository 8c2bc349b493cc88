// Sets (or, with a null value, removes) one environment variable for a test
// and restores its previous state afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vlibtest {

class EnvScope {
public:
    EnvScope(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvScope() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

}  // namespace vlibtest
