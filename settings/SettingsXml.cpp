// Settings: the XML mapping, the string form and the files.
//
// Writing streams the tree straight through tinyxml2's printer (OpenElement,
// PushAttribute, CloseElement), which prints what printing a document built by
// FillXml would print, without building that document first (values with
// tabs and line breaks aside, see StringPrinter).
// Reading parses with tinyxml2 and builds the new children in a separate node,
// which replaces the old content only once everything has been read, so a
// failure (allocation included) leaves the tree as it was.
#include <tinyxml2.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "diagnostics/Log.h"
#include "platform/WinError.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/ReplacingFile.h"
#include "settings/Settings.h"
#include "settings/internal/XmlName.h"
#include "text/StringConversion.h"

namespace {

constexpr char kUnnamedElement[] = "Variable";
constexpr char kValueAttribute[] = "Value";
constexpr char kVersionAttribute[] = "Version";
constexpr char kCountAttribute[] = "ElementCount";
constexpr const char* kStringRoot = "data";
constexpr const char* kDeclaration = "xml version=\"1.0\" encoding=\"UTF-8\"";

// The deepest element tinyxml2 reads back: a document nests at most this many
// elements, the top element included, when the deepest ones are empty
// elements (as the printer writes every element without children).
constexpr int kMaxReadableDepth = TINYXML2_MAX_ELEMENT_DEPTH - 1;

// The shortest element that can stand for an unnamed child, "<Variable/>":
// the text's length over it bounds how many unnamed children a text can hold,
// and so how much an "ElementCount" may reserve.
constexpr std::size_t kShortestUnnamedElement = 11;

// Writes one failure to the log: the Polish text (UTF-8 in this source,
// written in the ANSI code page) followed by the details as they are.
void LogFailure(const char* function, int line, std::string_view polish, std::string_view details = {},
                std::string_view more = {}) noexcept {
    try {
        std::string message = VTools::String::Utf8ToAnsi(polish);
        message.append(details);
        message.append(more);
        VTools::Log::Instance().Write(function, line, message);
    } catch (...) {
        // The failure is reported by the caller's result; the log entry is lost.
    }
}

// The path as the log shows it: its file-system form, empty when it has none.
std::string FileSystemName(std::wstring_view path) {
    std::string narrow;
    const DWORD lastError = GetLastError();
    if (!vplatform::ToFileSystemPath(path, narrow)) SetLastError(lastError);
    return narrow;
}

// The whole file, read through the platform's file functions without denying
// other readers or writers into one buffer that is not initialised first;
// false when it cannot be opened or read.
bool ReadWholeFile(std::wstring_view path, std::unique_ptr<char[]>& text, std::size_t& size) {
    const std::wstring name(path);
    if (name.empty() || name.find(L'\0') != std::wstring::npos) return false;
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool complete = false;
    try {
        LARGE_INTEGER expected{};
        // One byte more than the size, so that the end is seen without
        // growing the buffer; a file that grows meanwhile grows it.
        std::size_t capacity = 65536;
        if (GetFileSizeEx(file, &expected) && expected.QuadPart > 0) {
            capacity = static_cast<std::size_t>(expected.QuadPart) + 1;
        }
        text = std::make_unique_for_overwrite<char[]>(capacity);
        size = 0;
        for (;;) {
            if (size == capacity) {
                auto larger = std::make_unique_for_overwrite<char[]>(2 * capacity);
                std::memcpy(larger.get(), text.get(), size);
                text = std::move(larger);
                capacity *= 2;
            }
            const std::size_t room = std::min<std::size_t>(capacity - size, 1u << 30);
            DWORD read = 0;
            if (!ReadFile(file, text.get() + size, static_cast<DWORD>(room), &read, nullptr)) break;
            if (read == 0) {
                complete = true;
                break;
            }
            size += read;
        }
    } catch (...) {
        complete = false;
    }
    CloseHandle(file);
    return complete;
}

// True when the NUL-terminated `text` is `name`, compared in line: names are
// short, and most differ from `name` in their first bytes.
template <std::size_t N>
bool IsName(const char* text, const char (&name)[N]) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
        if (text[i] != name[i]) return false;  // stops at the end of a shorter text
    }
    return true;
}

// An integer attribute as tinyxml2's QueryIntValue / QueryInt64Value read
// it.  Plain decimal text short enough not to overflow (the form this class
// writes) is converted here; the library's conversion, a scanf, costs more
// than the rest of reading an element.  Any other text goes to the library.
template <class T>
bool ReadInteger(const tinyxml2::XMLAttribute& attribute, T& value) {
    const char* text = attribute.Value();
    const bool negative = *text == '-';
    const char* digit = text + (negative ? 1 : 0);
    T magnitude = 0;
    int digits = 0;
    for (; *digit >= '0' && *digit <= '9' && digits < std::numeric_limits<T>::digits10; ++digit, ++digits) {
        magnitude = magnitude * 10 + (*digit - '0');
    }
    if (digits > 0 && *digit == '\0') {
        value = negative ? -magnitude : magnitude;
        return true;
    }
    if constexpr (std::is_same_v<T, int>) {
        return attribute.QueryIntValue(&value) == tinyxml2::XML_SUCCESS;
    } else {
        return attribute.QueryInt64Value(&value) == tinyxml2::XML_SUCCESS;
    }
}

tinyxml2::XMLDocument MakeDocument() {
    return tinyxml2::XMLDocument(true, tinyxml2::PRESERVE_WHITESPACE);
}

// tinyxml2's printer writing into a std::string: the text is built in place
// and handed over without a copy, and the indentation is written in one
// piece.  The formatting itself stays the printer's, with one addition: tab,
// line feed and carriage return in attribute values are written as character
// references.  XML readers replace those characters in attribute values by
// blanks (and tinyxml2 turns a carriage return into a line feed), so written
// raw, as the plain printer does, they would not read back as they were.  The
// printer writes its own line breaks with Putc, never with Write.
class StringPrinter : public tinyxml2::XMLPrinter {
public:
    explicit StringPrinter(std::size_t expectedSize) { m_text.reserve(expectedSize); }

    std::string Take() { return std::move(m_text); }

protected:
    using tinyxml2::XMLPrinter::Write;

    void Write(const char* data, size_t size) override {
        const char* end = data + size;
        for (const char* p = data; p != end; ++p) {
            const char c = *p;
            if (c != '\t' && c != '\n' && c != '\r') continue;
            m_text.append(data, p);
            m_text.append(c == '\t' ? "&#9;" : c == '\n' ? "&#10;" : "&#13;");
            data = p + 1;
        }
        m_text.append(data, end);
    }
    void Putc(char ch) override { m_text.push_back(ch); }
    void PrintSpace(int depth) override { m_text.append(static_cast<std::size_t>(depth) * 4, ' '); }
    void Print(const char* format, ...) override {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        const int length = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (length > 0) {
            const std::size_t end = m_text.size();
            m_text.resize(end + static_cast<std::size_t>(length) + 1);
            std::vsnprintf(m_text.data() + end, static_cast<std::size_t>(length) + 1, format, args);
            m_text.resize(end + static_cast<std::size_t>(length));
        }
        va_end(args);
    }

private:
    std::string m_text;
};

}  // namespace

// Private helpers with access to the fields.
struct Settings::Xml {
    // --- Writing ------------------------------------------------------------

    static void Write(StringPrinter& printer, const Settings& node) {
        if (node.m_version != 0) printer.PushAttribute(kVersionAttribute, node.m_version);
        if (node.m_unnamedChildren.size() > 1) {
            printer.PushAttribute(kCountAttribute, static_cast<std::uint64_t>(node.m_unnamedChildren.size()));
        }
        for (const auto& [key, child] : node.m_children) WriteChild(printer, key.c_str(), child);
        for (const auto& child : node.m_unnamedChildren) WriteChild(printer, kUnnamedElement, child);
    }

    static void WriteChild(StringPrinter& printer, const char* name, const Settings& child) {
        printer.OpenElement(name);
        if (!child.IsEmpty()) printer.PushAttribute(kValueAttribute, child.m_value.c_str());
        Write(printer, child);
        printer.CloseElement();
    }

    // The whole document, top element `root`, as text.
    static std::string Print(const Settings& node, const char* root) {
        StringPrinter printer(64 + 2 * std::strlen(root) + Size(node, 1));
        printer.PushDeclaration(kDeclaration);
        printer.OpenElement(root);
        Write(printer, node);
        printer.CloseElement();
        return printer.Take();
    }

    // About the printed size of `node`'s children (escapes not counted), so
    // that the text is allocated once.
    static std::size_t Size(const Settings& node, std::size_t depth) {
        std::size_t size = 0;
        const auto child = [&](std::size_t name, const Settings& c) {
            size += 4 * depth + name + 5 + (c.IsEmpty() ? 0 : 9 + c.m_value.size()) + (c.m_version ? 20 : 0);
            if (!c.m_children.empty() || !c.m_unnamedChildren.empty()) {
                size += 4 * depth + name + 4 + (c.m_unnamedChildren.size() > 1 ? 36 : 0) + Size(c, depth + 1);
            }
        };
        for (const auto& [key, c] : node.m_children) child(key.size(), c);
        for (const auto& c : node.m_unnamedChildren) child(8, c);
        return size;
    }

    // True when every key below `node` reads back as its element name and the
    // tree fits the depth the reader accepts (`depth` is the depth of `node`'s
    // element).
    static bool Writable(const Settings& node, int depth) {
        if (node.m_children.empty() && node.m_unnamedChildren.empty()) return true;
        if (depth >= kMaxReadableDepth) return false;
        for (const auto& [key, child] : node.m_children) {
            if (!VTools::SettingsInternal::IsElementName(key) || !Writable(child, depth + 1)) return false;
        }
        for (const auto& child : node.m_unnamedChildren) {
            if (!Writable(child, depth + 1)) return false;
        }
        return true;
    }

    // --- Reading ------------------------------------------------------------

    // Reads `element` into `node`.  `budget` is the number of unnamed children
    // that "ElementCount" attributes may still reserve room for.
    static void Read(const tinyxml2::XMLElement& element, Settings& node, bool readValue, std::size_t& budget) {
        std::int64_t count = 0;
        int version = 0;
        for (const tinyxml2::XMLAttribute* a = element.FirstAttribute(); a != nullptr; a = a->Next()) {
            const char* name = a->Name();
            if (IsName(name, kValueAttribute)) {
                if (readValue) node.m_value = a->Value();
            } else if (IsName(name, kVersionAttribute)) {
                if (!ReadInteger(*a, version)) version = 0;
            } else if (IsName(name, kCountAttribute)) {
                if (!ReadInteger(*a, count)) count = 0;
            }
        }
        node.m_version = version;
        if (count > 0 && static_cast<std::uint64_t>(count) > node.m_unnamedChildren.capacity()) {
            const std::size_t wanted = static_cast<std::size_t>(count) - node.m_unnamedChildren.size();
            const std::size_t granted = std::min(wanted, budget);
            budget -= granted;
            node.m_unnamedChildren.reserve(node.m_unnamedChildren.size() + granted);
        }
        for (const tinyxml2::XMLElement* child = element.FirstChildElement(); child != nullptr;
             child = child->NextSiblingElement()) {
            Read(*child, Target(node, child->Name()), true, budget);
        }
    }

    // The child that the element called `name` reads into: a new unnamed
    // child for "Variable", else the named child with that key, created when
    // missing.
    static Settings& Target(Settings& node, const char* name) {
        const std::uint64_t id = node.m_lastChildId + 1;
        if (IsName(name, kUnnamedElement)) {
            Settings& child = node.m_unnamedChildren.emplace_back(id);
            node.m_lastChildId = id;
            return child;
        }
        // Documents this class writes list the keys in order, so the hint at
        // the end costs one comparison; a key already there (a repeated
        // element) is found and kept, content and all.
        auto& children = node.m_children;
        const std::size_t before = children.size();
        Settings& child = children
                              .emplace_hint(children.end(), std::piecewise_construct,
                                            std::forward_as_tuple(std::string_view(name)), std::forward_as_tuple(id))
                              ->second;
        if (children.size() != before) node.m_lastChildId = id;
        return child;
    }

    // Replaces `node`'s content with `root` read as a fresh load: the value
    // emptied, the version and the children read, identifiers numbered on
    // from the node's counter.
    static void Load(Settings& node, const tinyxml2::XMLElement& root, std::size_t budget) {
        Settings fresh(node.m_id);
        fresh.m_lastChildId = node.m_lastChildId;
        Read(root, fresh, false, budget);
        node.m_value.clear();
        node.m_version = fresh.m_version;
        node.m_lastChildId = fresh.m_lastChildId;
        node.m_children = std::move(fresh.m_children);
        node.m_unnamedChildren = std::move(fresh.m_unnamedChildren);
    }
};

void Settings::FillXml(tinyxml2::XMLDocument& document, tinyxml2::XMLElement* element) const {
    if (element == nullptr) return;
    if (m_version != 0) element->SetAttribute(kVersionAttribute, m_version);
    if (m_unnamedChildren.size() > 1) {
        element->SetAttribute(kCountAttribute, static_cast<std::uint64_t>(m_unnamedChildren.size()));
    }
    for (const auto& [key, child] : m_children) FillXmlElement(child, key.c_str(), document, element);
    for (const auto& child : m_unnamedChildren) FillXmlElement(child, nullptr, document, element);
}

void Settings::FillXmlElement(const Settings& child, const char* name, tinyxml2::XMLDocument& document,
                              tinyxml2::XMLElement* parent) const {
    tinyxml2::XMLElement* element = document.NewElement(name ? name : kUnnamedElement);
    parent->InsertEndChild(element);
    if (!child.IsEmpty()) element->SetAttribute(kValueAttribute, child.m_value.c_str());
    child.FillXml(document, element);
}

void Settings::ParseXml(const tinyxml2::XMLNode* node) {
    const tinyxml2::XMLElement* element = node ? node->ToElement() : nullptr;
    if (element == nullptr) return;
    // Without the text's length, reservations are bounded by a fixed budget.
    std::size_t budget = 1u << 16;
    Xml::Read(*element, *this, false, budget);
}

std::string Settings::ConvertToString() const {
    return Xml::Print(*this, kStringRoot);
}

bool Settings::ConvertFromString(std::string_view text) {
    tinyxml2::XMLDocument document = MakeDocument();
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        LogFailure("Settings::ConvertFromString", __LINE__, "Nie udało się sparsować ustawień dla: ", text);
        return false;
    }
    const tinyxml2::XMLElement* root = document.FirstChildElement(kStringRoot);
    if (root == nullptr) {
        LogFailure("Settings::ConvertFromString", __LINE__, "Błędny tag ustawień");
        return false;
    }
    Xml::Load(*this, *root, text.size() / kShortestUnnamedElement);
    return true;
}

bool Settings::SaveToFile(std::wstring_view path, std::string_view rootName) const {
    const std::string narrowPath = FileSystemName(path);
    const std::string root(rootName);
    if (!VTools::SettingsInternal::IsElementName(root) || !Xml::Writable(*this, 1) ||
        vplatform::ReplaceFileContent(path, Xml::Print(*this, root.c_str())) != ERROR_SUCCESS) {
        LogFailure("Settings::SaveToFile", __LINE__, "Nie udało się zapisać ustawień do pliku: ", narrowPath);
        return false;
    }
    return true;
}

bool Settings::LoadFromFile(std::wstring_view path, std::string_view rootName) {
    const std::string narrowPath = FileSystemName(path);
    std::unique_ptr<char[]> text;
    std::size_t size = 0;
    tinyxml2::XMLDocument document = MakeDocument();
    if (!ReadWholeFile(path, text, size) || document.Parse(text.get(), size) != tinyxml2::XML_SUCCESS) {
        LogFailure("Settings::LoadFromFile", __LINE__, "Nie udało się wczytać ustawień dla: ", narrowPath);
        return false;
    }
    // The document holds its own copy of the text.
    text.reset();
    const std::string root(rootName);
    const tinyxml2::XMLElement* top = document.FirstChildElement(root.c_str());
    if (top == nullptr) {
        LogFailure("Settings::LoadFromFile", __LINE__, "Błędny tag ustawień: ", narrowPath, ", " + root);
        return false;
    }
    Xml::Load(*this, *top, size / kShortestUnnamedElement);
    return true;
}
