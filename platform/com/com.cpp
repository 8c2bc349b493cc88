// COM task memory and GUID text.
#include "platform/com/Com.h"

#include <cstdio>
#include <cstdlib>

extern "C" {

void* CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}

void CoTaskMemFree(void* pv) {
    std::free(pv);
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    constexpr int length = 39;
    if (lpsz == nullptr || cchMax < length) return 0;
    char text[length + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(rguid.Data1), rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                  rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    for (int i = 0; i < length; ++i) lpsz[i] = static_cast<unsigned char>(text[i]);
    return length;
}
}
