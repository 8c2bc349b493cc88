// RECT and POINT compared and printed in test expectations.
#pragma once

#include <ostream>

#include "platform/WinTypes.h"

inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline void PrintTo(const RECT& r, std::ostream* out) {
    *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
