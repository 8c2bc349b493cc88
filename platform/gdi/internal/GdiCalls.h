// The calls of the GDI area that reach outside the process's own memory
// rules, through one table of function pointers, so that tests can make them
// fail: the font match (fontconfig), opening a face (FreeType) and the
// allocation of bitmap pixels.
//
// The GDI code makes these calls only through GdiCalls(); the setter is for
// tests only (exported for the test binaries, not installed).  A test
// replaces the table while no other thread realises fonts or creates
// bitmaps, and restores it before it ends (ScopedGdiCallsForTesting).
#pragma once

#include <cstddef>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include "platform/PlatformExport.h"

namespace vplatform::gdi {

struct GdiCallTable {
    FcPattern* (*fontMatch)(FcConfig* config, FcPattern* pattern, FcResult* result);
    FT_Error (*newFace)(FT_Library library, const char* path, FT_Long index, FT_Face* face);
    // Zero-filled pixel memory, released with free().
    void* (*calloc)(std::size_t count, std::size_t size);
};

const GdiCallTable& GdiCalls();

namespace test {

VPLATFORM_API const GdiCallTable& RealGdiCalls();
VPLATFORM_API void SetGdiCallsForTesting(const GdiCallTable& table);
VPLATFORM_API void RestoreGdiCalls();

class ScopedGdiCallsForTesting {
public:
    explicit ScopedGdiCallsForTesting(const GdiCallTable& table) { SetGdiCallsForTesting(table); }
    ~ScopedGdiCallsForTesting() { RestoreGdiCalls(); }
    ScopedGdiCallsForTesting(const ScopedGdiCallsForTesting&) = delete;
    ScopedGdiCallsForTesting& operator=(const ScopedGdiCallsForTesting&) = delete;
};

}  // namespace test
}  // namespace vplatform::gdi
