// Expands zlib-compressed data: a zlib stream (RFC 1950 wrapper around
// RFC 1951 deflate data, as zlib's deflate writes it with default settings).
// Neither gzip nor raw deflate data is accepted, nor a stream that needs a
// preset dictionary.  Data after the end of the stream is ignored.
//
// The class holds no data; any number of threads may use their own or one
// shared object at once.
#pragma once

#include <cstdio>
#include <vector>

#include "VLibExport.h"

namespace VTools {

class VLIB_API ZipCompressor {
public:
    // Expands the zlib stream in `input` and appends the bytes to `output`
    // (its content stays in front of them; `input` and `output` may be one
    // vector, which then ends in the expansion behind the compressed bytes).
    // Returns true when the stream was complete.  Failure: false for an empty
    // input, for invalid data, a dictionary request or zlib running out of
    // memory (`output` unchanged then), and for a stream cut short (what could
    // be expanded has been appended).  Throws gsl::narrowing_error for an input of 4 GiB or more;
    // an allocation failure propagates as std::bad_alloc, `output` unchanged.
    bool Inflate(std::vector<char>& input, std::vector<char>& output);

private:
    // Lets the tests reach the stream variant.
    friend struct ZipCompressorStreamAccess;

    // Expands the zlib stream read from `source` into `destination`.  Returns
    // a zlib status: 0 (Z_OK) when the stream ended, -1 (Z_ERRNO) for a read or
    // write error, -3 (Z_DATA_ERROR) for invalid or incomplete data or a
    // dictionary request, -4 (Z_MEM_ERROR) when zlib runs out of memory, or
    // the code with which zlib's initialisation failed.  What was expanded
    // before a failure has been written.
    int Inflate(FILE* source, FILE* destination);
};

}  // namespace VTools
