// JSON files: reading a document from a file into a Boost.JSON value and
// writing a value to a file or a string, both streamed through a fixed
// buffer of 4096 bytes held by the object, so that the whole text of a file
// is never held in memory.
//
// Text is UTF-8.  Output is Boost.JSON's serializer output unchanged:
// compact, members in the object's order, no byte-order mark, no line feed.
//
// One object serves any number of calls but not two at once (the buffer is
// shared); separate objects are independent.  Allocation failure throws
// std::bad_alloc; nothing else throws.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <string_view>

// Boost.JSON names a template parameter Bool, which Xlib defines as a macro.
#pragma push_macro("Bool")
#undef Bool
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#pragma pop_macro("Bool")

#include "VLibExport.h"

namespace VTools::Json {

class VLIB_API JsonParser {
public:
    JsonParser();
    JsonParser(const JsonParser&) = default;
    JsonParser& operator=(const JsonParser&) = default;

    // The document in the file at `path`, read in chunks with Boost.JSON's
    // default parse options (nesting up to 32 levels; no comments, trailing
    // commas or invalid UTF-8).  The file is opened without denying other
    // readers or writers.  Returns a null value when the file cannot be opened
    // or read, or does not hold one complete valid document; a file holding
    // the literal null gives a null value too.  Nothing is logged.
    boost::json::value FromFile(std::wstring_view path);

private:
    std::array<char, 4096> m_buffer;
};

class VLIB_API JsonSerializer {
public:
    JsonSerializer();
    JsonSerializer(const JsonSerializer&) = default;
    JsonSerializer& operator=(const JsonSerializer&) = default;

    // Writes `value` as the whole content of the file at `path`, creating its
    // folder when missing.  The text goes into a temporary file beside the
    // target, which is flushed and renamed over it only when everything was
    // written, so a failed save leaves the previous file as it was and no
    // temporary file behind.  Returns false for an empty path or when the file
    // cannot be created, written, flushed or renamed (a full disk, a missing
    // folder that could not be created); true when the file holds the value.
    bool Save(std::wstring_view path, const boost::json::value& value);

    // The compact text of `object` ("{}" for an empty one).
    std::string SerializeToString(const boost::json::object& object);

private:
    bool SaveToFile(std::wstring_view path, const boost::json::value& value);
    // Writes the text of `value` to `stream` chunk by chunk, each as a
    // formatted insertion (a field width set on the stream pads each chunk).
    void SaveToStream(const boost::json::value& value, std::ostream& stream);

    std::array<char, 4096> m_buffer;
};

}  // namespace VTools::Json
