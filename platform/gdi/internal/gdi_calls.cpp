// The table of fontconfig, FreeType and allocation calls and its test-only
// replacement.
#include "platform/gdi/internal/GdiCalls.h"

#include <atomic>
#include <cstdlib>

namespace vplatform::gdi {
namespace {

void* Calloc(std::size_t count, std::size_t size) {
    return std::calloc(count, size);
}

const GdiCallTable kReal = {FcFontMatch, FT_New_Face, Calloc};

GdiCallTable g_replacement = kReal;
std::atomic<const GdiCallTable*> g_table{&kReal};

}  // namespace

const GdiCallTable& GdiCalls() {
    return *g_table.load(std::memory_order_acquire);
}

namespace test {

const GdiCallTable& RealGdiCalls() {
    return kReal;
}

void SetGdiCallsForTesting(const GdiCallTable& table) {
    g_replacement = table;
    g_table.store(&g_replacement, std::memory_order_release);
}

void RestoreGdiCalls() {
    g_table.store(&kReal, std::memory_order_release);
}

}  // namespace test
}  // namespace vplatform::gdi
