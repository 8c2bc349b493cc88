// BinaryStringSerializer: MFC archive serialisation into memory, carried as
// hex text or as a JSON string value, and back.
//
// A default-constructed serializer stores: the caller writes values into
// GetArchive() and takes the result with GetString() or ToJson().  A
// serializer made from hex text (or a JSON string holding it) loads: its
// archive reads the decoded bytes.
//
// Text form: two lowercase hex digits per byte, high digit first, no
// separators ("007fff10" for 00 7F FF 10).  Decoding takes pairs of
// characters; a last odd character is ignored; digits of either case are
// accepted.  Decoding does not reject bad text: a pair that is not two hex
// digits repeats the byte before it (0 for the first pair), as text written
// by earlier versions was always read.
//
// Failure: reading past the end of a loading serializer's data throws the
// archive's CArchiveException* (cause endOfFile), which the caller catches
// and releases with Delete().  The other failures are stated at each member.
//
// Threads: a serializer, like the archive it holds, is used by one thread at a
// time; the static conversions may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Boost.JSON names a template parameter Bool, which Xlib defines as a macro.
#pragma push_macro("Bool")
#undef Bool
#include <boost/json/value.hpp>
#pragma pop_macro("Bool")

#include "VLibExport.h"
#include "platform/mfc/AfxArchive.h"

class VLIB_API BinaryStringSerializer {
public:
    static constexpr std::uint64_t NumberSignsInByte = 2;

    // Storing: an empty memory file growing in steps of 512 bytes and an
    // archive in storing mode over it.  OpenOk() is true.
    BinaryStringSerializer();
    // Loading from hex text; OpenOk() is true when `text` is not empty.
    // Throws std::length_error for text of 4 GiB of bytes or more, which a
    // memory file cannot address.
    explicit BinaryStringSerializer(const std::string& text);
    // Loading from a JSON string holding hex text; OpenOk() is true when the
    // string is not empty.  Throws std::invalid_argument ("not a string") for
    // a value of any other kind.
    explicit BinaryStringSerializer(const boost::json::value& value);
    // Closes the archive (a storing one writes out what it buffers), then the
    // memory file, then releases the bytes.
    ~BinaryStringSerializer();

    BinaryStringSerializer(const BinaryStringSerializer&) = delete;
    BinaryStringSerializer& operator=(const BinaryStringSerializer&) = delete;

    // The archive to write into (storing) or read from (loading).  Throws
    // std::bad_optional_access when there is none.
    CArchive& GetArchive();

    // Storing: flushes the archive and returns everything written so far as
    // hex text; the memory file gives its buffer up, so call it once, after
    // the writing.  Returns "" when OpenOk() is false, and "" for a loading
    // serializer (whose bytes stay where they are).
    std::string GetString();
    // GetString() as a JSON string value.
    boost::json::value ToJson();

    bool IsValid() const { return m_archive.has_value(); }
    bool OpenOk() const { return m_openOk != 0; }

    // The hex text of `count` bytes ("" for 0).
    static std::string ConvertBinToText(const std::uint8_t* bytes, std::uint64_t count);
    // Decodes `text` into `destination` when `expectedCount` is not 0 and the
    // text decodes to exactly that many bytes, and returns true; otherwise
    // returns false and leaves `destination` untouched.
    static bool ConvertTextToBin(const std::string& text, std::uint8_t* destination, std::uint64_t expectedCount);

private:
    void OpenForLoading(const char* text, std::size_t size);

    std::int32_t m_openOk = 0;
    std::vector<std::uint8_t> m_bytes;
    std::optional<CMemFile> m_memFile;
    std::optional<CArchive> m_archive;
};
