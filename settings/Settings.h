// Settings: the tree in which the application keeps its configuration and
// persistent state, with its XML text form and its XML files.
//
// Each node holds one value as text and two kinds of children: named children,
// kept in key order (keys compared byte by byte as unsigned characters) and
// reached with operator[], and unnamed children, kept in insertion order.
// Typed assignments turn numbers, flags, texts, rectangles, points, sizes and
// dates into the node's text; typed conversions read them back.
//
// Values.  Narrow text is stored as given; wide text is stored as UTF-8.  The
// six characters "{null}" mark a null value: the numeric and flag conversions
// and the XML writer treat it like the empty text, the text conversions return
// it as it is.
//
// Identifiers.  Every node has an identifier: 0 for a default-constructed
// node, the given number for Settings(id), and for a child that the tree
// creates (operator[] on a missing key, AddUnnamed, reading XML) the parent's
// counter of handed-out identifiers after it was incremented, so that the
// children of a node carry 1, 2, 3, ... in order of creation, whatever their
// kind.  The counter never decreases.  The identifier m_invalidId marks the
// shared invalid node that const lookups of missing keys return.
//
// XML.  A node is one element: its value is the attribute "Value" (not for the
// top node), a version other than 0 the attribute "Version", two or more
// unnamed children the attribute "ElementCount"; then one child element per
// named child, named by its key, in key order, and one element "Variable" per
// unnamed child, in order.  The string form is a whole document whose top
// element is "data"; a file holds the same document under a top element the
// caller names.  Documents are printed by tinyxml2 (declaration
// `<?xml version="1.0" encoding="UTF-8"?>`, one element per line, four spaces
// of indentation per level, a line feed at the end, no byte-order mark).
// Values are written byte for byte as attribute text (tab, line feed and
// carriage return as character references, so that every XML reader gives
// them back unchanged).  Keys are used verbatim as element names, so callers
// use keys that are XML names and never "Variable", which reads back as an
// unnamed child.
//
// Files.  A path is a wide Windows-form path, read and written through the
// platform's file functions (platform/kernel/Files.h, ReplacingFile.h), so it
// names the file CreateFileW opens: UTF-8 names, '\\' and '/' both separating
// folders.  That narrow form (vplatform::ToFileSystemPath) is what the log
// entries quote; a path holding a lone surrogate names no file.
//
// Failures.  The numeric conversions throw std::invalid_argument or
// std::out_of_range (the tree is unchanged); the rectangle, point and size
// conversions never throw.  ConvertFromString, LoadFromFile and SaveToFile
// report failure with false and one entry in the log (VTools::Log), leave the
// tree unchanged and throw nothing but allocation failure.  Allocation failure
// propagates as std::bad_alloc.
//
// Threads.  There is no lock: a tree may be read by several threads at once;
// any change, including operator[] on a missing key, needs exclusive access.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "VLibExport.h"
#include "platform/mfc/AfxDateTime.h"
#include "platform/mfc/AfxGeometry.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
class XMLNode;
}  // namespace tinyxml2

class Settings;

// Types that index a Settings node: whatever converts to a narrow string view,
// except a node itself.  Taking the key's own type (not a view) keeps
// `node[key]` from competing with the built-in subscript that the node's
// conversions to integers and pointers would otherwise offer.
template <typename Key>
concept SettingsKey =
    std::is_convertible_v<const Key&, std::string_view> && !std::is_same_v<std::remove_cvref_t<Key>, Settings>;

class VLIB_API Settings {
public:
    using NamedChildren = std::map<std::string, Settings, std::less<>>;
    using UnnamedChildren = std::vector<Settings>;
    using iterator = NamedChildren::iterator;
    using const_iterator = NamedChildren::const_iterator;
    using unnamed_iterator = UnnamedChildren::iterator;
    using const_unnamed_iterator = UnnamedChildren::const_iterator;

    // The identifier of the shared invalid node (all 64 bits set).
    static constexpr std::uint64_t m_invalidId = UINT64_MAX;

    // --- Construction -------------------------------------------------------

    // Version 0, identifier 0, nothing handed out yet, empty value, no children.
    Settings() noexcept;
    // The same with the given identifier.
    explicit Settings(std::uint64_t id) noexcept;
    // Copies all of the node, subtrees included, identifiers unchanged.
    Settings(const Settings& other);
    // Takes the value and the children and copies version, identifier and
    // counter; `other` is left with an empty value and no children.
    Settings(Settings&& other) noexcept;
    // As the constructors; assigning a node to itself changes nothing, and a
    // node may be assigned one of its own descendants (copied or moved out
    // before the old children go).  Moving a node into one of its own
    // descendants is not supported.
    Settings& operator=(const Settings& other);
    Settings& operator=(Settings&& other) noexcept;
    ~Settings();

    // --- Navigation and structure ---------------------------------------------

    // The named child with this key, created (with the next identifier) when
    // missing.  The key is anything that converts to a narrow string view
    // (a literal, a char array or pointer, a string, a view); a null pointer
    // is the empty key.
    template <typename Key>
    requires SettingsKey<Key> Settings& operator[](const Key& key) { return Child(KeyView(key)); }
    // The named child with this key, or the shared invalid node when there is
    // none (indexing the invalid node yields it again).  Never fails.
    template <typename Key>
    requires SettingsKey<Key>
    const Settings& operator[](const Key& key) const { return Find(KeyView(key)); }

    // A direct named child with this key exists (unnamed children and deeper
    // levels are not searched).
    bool Exists(std::string_view key) const;
    // Appends an unnamed child with the next identifier and returns it.  The
    // references to earlier unnamed children stay valid only while the list
    // has room (see GetUnnamedVariablesCount and the list's capacity).
    Settings& AddUnnamed();

    // The named children in key order, as pairs of key and child.
    iterator begin() { return m_children.begin(); }
    iterator end() { return m_children.end(); }
    const_iterator begin() const { return m_children.begin(); }
    const_iterator end() const { return m_children.end(); }
    // The unnamed children in order.
    unnamed_iterator begin_unnamed() { return m_unnamedChildren.begin(); }
    unnamed_iterator end_unnamed() { return m_unnamedChildren.end(); }
    const_unnamed_iterator begin_unnamed() const { return m_unnamedChildren.begin(); }
    const_unnamed_iterator end_unnamed() const { return m_unnamedChildren.end(); }

    std::uint64_t GetVariablesCount() const noexcept { return m_children.size(); }
    std::uint64_t GetUnnamedVariablesCount() const noexcept { return m_unnamedChildren.size(); }

    // Removes the named child with this key and its subtree; nothing happens
    // when there is none.
    void RemoveBranch(const std::string& key);
    void RemoveBranch(std::string_view key);
    void RemoveBranch(const char* key);
    // Removes the direct child that is this very object (compared by address):
    // named children first, then unnamed ones, whose later entries move one
    // place forward.  Nothing happens when `node` is not a direct child.
    void RemoveBranch(const Settings& node);
    // Removes all children; the value, version, identifier and counter stay.
    void Clear() noexcept;

    // --- Queries ----------------------------------------------------------------

    bool IsValid() const noexcept { return m_id != m_invalidId; }
    std::uint64_t GetID() const noexcept { return m_id; }
    int Version() const noexcept { return m_version; }
    void Version(int version) noexcept { m_version = version; }
    static int DefaultSettingsVersion() noexcept { return 0; }

    // --- Typed assignment: each replaces the value only ----------------------
    //
    // Integers: decimal digits with a leading '-' for negative numbers.
    // double: printf "%0.64f", then trailing zeros after the decimal separator
    // are removed, and the separator too when nothing follows it (2.5 -> "2.5",
    // 3.0 -> "3", 0.1 -> its exact decimal expansion).  float: widened and
    // printed with "%f", then trimmed the same way (0.1f -> "0.1").  Where
    // that text would not read back as the same number (a double below about
    // 1e-47, a float with more than six decimal places), the shortest text
    // that does is stored instead (1e-70 -> "1e-70", 1.0f / 3 ->
    // "0.33333334"); subnormal numbers, which no text reads back as, keep the
    // printf text ("0").  The separator is that of the current C numeric
    // locale.  bool: "1" or "0".
    // Narrow text: the bytes as given; wide text: UTF-8.  A null pointer stores
    // the empty text.  CRect: "left top right bottom"; CPoint "x y"; CSize
    // "cx cy".  COleDateTime: its OLE date as a double is stored (the status is
    // not).

    Settings& operator=(int value);
    Settings& operator=(long value);
    Settings& operator=(long long value);
    Settings& operator=(unsigned int value);
    Settings& operator=(unsigned long value);
    Settings& operator=(unsigned long long value);
    Settings& operator=(short value);
    Settings& operator=(unsigned short value);
    Settings& operator=(signed char value);
    Settings& operator=(unsigned char value);
    Settings& operator=(double value);
    Settings& operator=(float value);
    Settings& operator=(bool value);
    Settings& operator=(std::string_view value);
    Settings& operator=(const std::string& value);
    Settings& operator=(std::string&& value);
    Settings& operator=(const char* value);
    Settings& operator=(std::wstring_view value);
    Settings& operator=(const std::wstring& value);
    Settings& operator=(const wchar_t* value);
    Settings& operator=(const CRect& value);
    Settings& operator=(const CPoint& value);
    Settings& operator=(const CSize& value);
    Settings& operator=(const COleDateTime& value);

    // --- Typed conversion --------------------------------------------------------
    //
    // Numbers and flags: an empty or "{null}" value gives 0 (false).
    // Otherwise the text is read as the standard functions read it: leading
    // white space, an optional sign, decimal digits, and reading stops at the
    // first other character ("12abc" gives 12).  No digits throws
    // std::invalid_argument; a number outside the result type throws
    // std::out_of_range.
    //   int, short, signed char, long, long long   as stoi / stoll, then the
    //                                               range of the type;
    //   unsigned int, unsigned short, unsigned char as stoul with a 32-bit
    //                                               result (a '-' negates
    //                                               modulo 2^32), then the
    //                                               range of the type;
    //   unsigned long, unsigned long long           as stoull (64-bit);
    //   double, float                               as stod / stof;
    //   bool                                        the int conversion != 0
    //                                               ("true" throws).

    operator int() const;
    operator long() const;
    operator long long() const;
    operator unsigned int() const;
    operator unsigned long() const;
    operator unsigned long long() const;
    operator short() const;
    operator unsigned short() const;
    operator signed char() const;
    operator unsigned char() const;
    operator double() const;
    operator float() const;
    operator bool() const;
    // Four (two) whole numbers separated by white space; anything else gives
    // the all-zero value.  Never throws.
    operator CRect() const;
    operator CPoint() const;
    operator CSize() const;
    // The value read as a double (as stod) is the OLE date, status valid.  An
    // empty or "{null}" value throws std::invalid_argument like any text
    // without a number.  Read it with `COleDateTime date = node;`.
    operator COleDateTime() const;
    // The value read as UTF-8 ("{null}" stays "{null}").
    operator std::wstring() const;
    // The stored text itself, without copying; lvalue nodes only.
    operator std::string_view() const&;
    operator const std::string&() const&;
    operator const char*() const&;
    operator std::string_view() const&& = delete;
    operator const std::string&() const&& = delete;
    operator const char*() const&& = delete;

    // --- XML ---------------------------------------------------------------------

    // Writes this node's attributes "Version" and "ElementCount" onto
    // `element` and appends one element per child, recursively (not this
    // node's own value).  A null `element` writes nothing.  Keys are not
    // checked.  Values go into the attributes as they are; tinyxml2's own
    // printer writes tabs and line breaks in them raw, which XML readers do
    // not give back unchanged (ConvertToString and SaveToFile escape them).
    void FillXml(tinyxml2::XMLDocument& document, tinyxml2::XMLElement* element) const;
    // Reads the element `node` into this node, adding to what the node holds:
    // the version from "Version" (0 when missing or not a number), one child
    // per child element in document order ("Variable" elements as unnamed
    // children, others merged into the named child of the same key), values
    // from "Value".  A null pointer or a node that is not an element reads
    // nothing.
    void ParseXml(const tinyxml2::XMLNode* node);

    // The string form: the document with the top element "data".  Keys are
    // not checked (a key that is not an XML name gives text that
    // ConvertFromString refuses).
    std::string ConvertToString() const;
    // Replaces the value (emptied), the version and the children with the tree
    // of the string form `text` (its bytes exactly; no terminating NUL
    // needed).  The identifier and the counter stay, so the new children are
    // numbered on from the counter.  False, with the tree unchanged and one
    // log entry, when the text is not well-formed XML or has no top element
    // "data".
    bool ConvertFromString(std::string_view text);

    // Writes the tree to the file `path` under the top element `rootName`,
    // through vplatform::ReplaceFileContent (platform/kernel/ReplacingFile.h):
    // the document goes into a temporary file beside the file, flushed to the
    // disk and then renamed over it, so the file is either the previous one or
    // the whole new document, also when the process dies on the way.  The file
    // keeps its permissions and owner; a symbolic link at `path` stays and the
    // file it points to gets the document; a read-only file is refused; a
    // folder that takes no temporary file gets the document written in place.
    // False, with the previous file untouched, no temporary file left and one
    // log entry, when the file cannot be written (a missing folder, no
    // permission, a read-only file, a full disk, a path that names a folder),
    // when `rootName` or a key would not read back as the same element name
    // (it must begin with an ASCII letter, '_', ':' or a byte from 0x80 on,
    // and go on with those, ASCII digits, '.' and '-'), or when the tree is
    // deeper than the XML reader accepts (so that whatever is saved can be
    // loaded again).
    bool SaveToFile(std::wstring_view path, std::string_view rootName) const;
    // Replaces the value (emptied), the version and the children with the
    // tree stored in the file under the top element `rootName`.  False, with
    // the tree unchanged and one log entry, when the file is missing,
    // unreadable, empty or not well-formed XML, or has no top element
    // `rootName`.
    bool LoadFromFile(std::wstring_view path, std::string_view rootName);

private:
    struct Xml;

    // operator[] on the key's view.
    Settings& Child(std::string_view key);
    const Settings& Find(std::string_view key) const;

    template <typename Key>
    static std::string_view KeyView(const Key& key) noexcept {
        if constexpr (std::is_pointer_v<Key>) {
            return key ? std::string_view(key) : std::string_view();
        } else {
            return std::string_view(key);
        }
    }

    // The value is empty or "{null}".
    bool IsEmpty() const noexcept;
    // Creates the element for one child: `name` (or "Variable" for null)
    // appended to `parent`, with "Value" when the child has a value, then the
    // child's FillXml into it.
    void FillXmlElement(const Settings& child, const char* name, tinyxml2::XMLDocument& document,
                        tinyxml2::XMLElement* parent) const;

    std::int32_t m_version = 0;
    std::uint64_t m_id = 0;
    std::uint64_t m_lastChildId = 0;
    std::string m_value;
    NamedChildren m_children;
    UnnamedChildren m_unnamedChildren;
};
