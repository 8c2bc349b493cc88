// SHA-1 and SHA-256 digests of byte ranges, as raw digest bytes (not hex).
//
// Failure: none; allocation failure propagates as std::bad_alloc.  The
// functions share no state and may be called from any thread.
#pragma once

#include <cstddef>
#include <vector>

#include <gsl/span>

#include "VLibExport.h"

namespace VTools::Encryption::Sha {

class VLIB_API EncryptionProvider {
public:
    // The 20-byte SHA-1 digest of `data`.
    static std::vector<unsigned char> EncryptSHA1(gsl::span<const std::byte> data);
    // The 32-byte SHA-256 digest of `data`.
    static std::vector<unsigned char> EncryptSHA256(gsl::span<const std::byte> data);
};

}  // namespace VTools::Encryption::Sha
