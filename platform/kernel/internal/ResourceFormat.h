// The layout of a module's embedded resources, shared by the resource
// compiler (rc/vlib_rc.cpp), which writes it, and the resource functions
// (resource.cpp), which read it.
//
// A module's resources are one block in its read-only data: a header, the
// directory entries sorted by (type, name, language), the string names and
// types, and the resources' bytes.  Every offset in the block counts from the
// block's start, so the block reads the same in a loaded image and in a file
// mapped as data.  All numbers are little-endian.
//
// The module finds its block through an ELF note (in a PT_NOTE segment) with
// name "VLibRes" and type kNoteType, whose descriptor is an 8-byte signed
// distance from the descriptor's own address to the block (a link-time
// constant: the note needs no relocation).
//
// A name or a type is an integer id (1..65535; its string offset is 0) or a
// string: the offset of a 16-bit length followed by that many UTF-16 units,
// upper-cased (ASCII letters) as Windows' resource compiler does, without NUL
// and not of the form "#123" (which names an id).  In the
// directory's order strings come before ids, strings by their units, ids by
// value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vplatform::resources {

inline constexpr char kNoteName[] = "VLibRes";          // 7 letters and the NUL: 8 bytes
inline constexpr std::uint32_t kNoteType = 0x56524553;  // "VRES"
inline constexpr std::uint32_t kMagic = 0x53455256;     // "VRES" in the file's byte order
inline constexpr std::uint32_t kVersion = 1;

struct BlockHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t totalSize;  // header, entries, strings and data
    std::uint32_t entryCount;
};
static_assert(sizeof(BlockHeader) == 16);

struct Entry {
    std::uint32_t typeId;      // 0 when the type is a string
    std::uint32_t typeString;  // offset of the type's string, 0 for an id
    std::uint32_t nameId;
    std::uint32_t nameString;
    std::uint32_t language;  // LANGID; 0 is language-neutral
    std::uint32_t dataOffset;
    std::uint32_t dataSize;
    std::uint32_t reserved;
};
static_assert(sizeof(Entry) == 32);

// A name or type as the directory compares it.
struct Key {
    std::uint16_t id = 0;                  // 0 for a string
    const std::uint16_t* units = nullptr;  // upper-cased
    std::size_t length = 0;
};

// Strings before ids; strings by their units (shorter first on a common
// prefix); ids by value.  Negative, zero or positive like memcmp.
inline int CompareKeys(const Key& a, const Key& b) {
    if (a.id == 0 && b.id == 0) {
        const std::size_t common = a.length < b.length ? a.length : b.length;
        for (std::size_t i = 0; i < common; ++i) {
            if (a.units[i] != b.units[i]) return a.units[i] < b.units[i] ? -1 : 1;
        }
        return a.length == b.length ? 0 : (a.length < b.length ? -1 : 1);
    }
    if (a.id == 0) return -1;
    if (b.id == 0) return 1;
    return a.id == b.id ? 0 : (a.id < b.id ? -1 : 1);
}

// "#123" names the id 123 (1..65535) wherever a string name is given, so no
// string name has that form.  The id, or 0 for any other text.
template <class Unit>
std::uint16_t HashId(const Unit* units, std::size_t length) {
    if (length < 2 || length > 6 || units[0] != '#') return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (units[i] < '0' || units[i] > '9') return 0;
        value = value * 10 + static_cast<std::uint32_t>(units[i] - '0');
    }
    return value <= 0xFFFF ? static_cast<std::uint16_t>(value) : 0;
}

inline std::uint16_t UpperUnit(std::uint16_t unit) {
    return unit >= 'a' && unit <= 'z' ? static_cast<std::uint16_t>(unit - 'a' + 'A') : unit;
}

// Well-known types of the resource compiler's keywords.
inline constexpr std::uint16_t kTypeCursor = 1;
inline constexpr std::uint16_t kTypeBitmap = 2;
inline constexpr std::uint16_t kTypeIcon = 3;
inline constexpr std::uint16_t kTypeRcData = 10;
inline constexpr std::uint16_t kTypeGroupIcon = 14;

}  // namespace vplatform::resources
