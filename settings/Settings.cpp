// Settings: the tree, its typed assignments and its typed conversions.  The
// XML side is in SettingsXml.cpp.
#include "settings/Settings.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>

#include "text/StringConversion.h"
#include "text/StringUtils.h"

namespace {

constexpr std::string_view kNullMarker = "{null}";

const Settings& InvalidNode() {
    static const Settings node(Settings::m_invalidId);
    return node;
}

std::string_view KeyOf(const char* key) {
    return key ? std::string_view(key) : std::string_view();
}

// printf of a double, then the decimal places trimmed.
std::string FormatDouble(const char* format, double value) {
    char local[512];  // "%0.64f" of the largest double needs 375 bytes
    int n = std::snprintf(local, sizeof local, format, value);
    std::string text;
    if (n < 0) return text;
    if (static_cast<std::size_t>(n) < sizeof local) {
        text.assign(local, static_cast<std::size_t>(n));
    } else {
        text.resize(static_cast<std::size_t>(n) + 1);
        n = std::snprintf(text.data(), text.size(), format, value);
        text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    }
    VTools::String::CutUnnecesaryDecimalPlaces(text);
    return text;
}

// True when `text` reads back as `value` (as the conversion operators read
// it: std::stod / std::stof, which refuse subnormal results).
template <class T>
bool ReadsBackAs(const std::string& text, T value) noexcept {
    try {
        const T back = std::is_same_v<T, float> ? std::stof(text) : std::stod(text);
        return std::isnan(value) ? std::isnan(back) : back == value && std::signbit(back) == std::signbit(value);
    } catch (...) {
        return false;
    }
}

// The printf text of a number (`format` as FormatDouble takes it) while it
// reads back as the same number, which fixed decimal places cannot do for
// very small numbers.  Otherwise the shortest text that does, with the
// current numeric locale's decimal separator; when no text does (a subnormal
// number), the printf text.
template <class T>
std::string FormatNumber(const char* format, T value) {
    std::string text = FormatDouble(format, static_cast<double>(value));
    if (ReadsBackAs(text, value)) return text;
    char shortest[64];
    const auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
    std::string exact;
    for (const char* p = shortest; p != end; ++p) {
        if (*p == '.') {
            exact += std::localeconv()->decimal_point;
        } else {
            exact += *p;
        }
    }
    return ReadsBackAs(exact, value) ? exact : text;
}

// The standard stoul with a 32-bit result: white space, an optional sign,
// decimal digits; a '-' negates modulo 2^32.  Throws as the standard function
// does.
std::uint32_t ParseUnsigned32(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
        throw std::invalid_argument("stoul");
    }
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
        if (magnitude > std::numeric_limits<std::uint32_t>::max()) {
            overflow = true;
            magnitude = std::numeric_limits<std::uint32_t>::max();  // keep reading the digits
        }
    }
    if (overflow) throw std::out_of_range("stoul");
    const auto result = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

template <typename T>
T Narrow(long long value, const char* what) {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) throw std::out_of_range(what);
    return static_cast<T>(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

Settings::Settings() noexcept = default;

Settings::Settings(std::uint64_t id) noexcept : m_id(id) {}

Settings::Settings(const Settings& other) = default;

Settings::Settings(Settings&& other) noexcept
    : m_version(other.m_version),
      m_id(other.m_id),
      m_lastChildId(other.m_lastChildId),
      m_value(std::exchange(other.m_value, {})),
      m_children(std::move(other.m_children)),
      m_unnamedChildren(std::move(other.m_unnamedChildren)) {
    other.m_children.clear();
    other.m_unnamedChildren.clear();
}

Settings& Settings::operator=(const Settings& other) {
    if (this != &other) {
        // Copy first: `other` may live in the subtree this assignment replaces.
        Settings copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Settings& Settings::operator=(Settings&& other) noexcept {
    if (this == &other) return *this;
    // Take everything out of `other` before the old children are destroyed,
    // since `other` may be one of them.
    std::string value = std::exchange(other.m_value, {});
    NamedChildren children = std::move(other.m_children);
    other.m_children.clear();
    UnnamedChildren unnamed = std::move(other.m_unnamedChildren);
    other.m_unnamedChildren.clear();
    m_version = other.m_version;
    m_id = other.m_id;
    m_lastChildId = other.m_lastChildId;
    m_value = std::move(value);
    m_children = std::move(children);
    m_unnamedChildren = std::move(unnamed);
    return *this;
}

Settings::~Settings() = default;

// ---------------------------------------------------------------------------
// Navigation and structure

Settings& Settings::Child(std::string_view key) {
    const auto it = m_children.lower_bound(key);
    if (it != m_children.end() && it->first == key) return it->second;
    const std::uint64_t id = m_lastChildId + 1;
    Settings& child =
        m_children.emplace_hint(it, std::piecewise_construct, std::forward_as_tuple(key), std::forward_as_tuple(id))
            ->second;
    m_lastChildId = id;
    return child;
}

const Settings& Settings::Find(std::string_view key) const {
    const auto it = m_children.find(key);
    return it != m_children.end() ? it->second : InvalidNode();
}

bool Settings::Exists(std::string_view key) const {
    return m_children.find(key) != m_children.end();
}

Settings& Settings::AddUnnamed() {
    Settings& child = m_unnamedChildren.emplace_back(m_lastChildId + 1);
    ++m_lastChildId;
    return child;
}

void Settings::RemoveBranch(const std::string& key) {
    RemoveBranch(std::string_view(key));
}

void Settings::RemoveBranch(std::string_view key) {
    const auto it = m_children.find(key);
    if (it != m_children.end()) m_children.erase(it);
}

void Settings::RemoveBranch(const char* key) {
    RemoveBranch(KeyOf(key));
}

void Settings::RemoveBranch(const Settings& node) {
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (&it->second == &node) {
            m_children.erase(it);
            return;
        }
    }
    for (auto it = m_unnamedChildren.begin(); it != m_unnamedChildren.end(); ++it) {
        if (&*it == &node) {
            m_unnamedChildren.erase(it);
            return;
        }
    }
}

void Settings::Clear() noexcept {
    m_children.clear();
    m_unnamedChildren.clear();
}

bool Settings::IsEmpty() const noexcept {
    return m_value.empty() || m_value == kNullMarker;
}

// ---------------------------------------------------------------------------
// Typed assignment

Settings& Settings::operator=(int value) {
    m_value = std::to_string(value);
    return *this;
}

Settings& Settings::operator=(long value) {
    m_value = std::to_string(value);
    return *this;
}

Settings& Settings::operator=(long long value) {
    m_value = std::to_string(value);
    return *this;
}

Settings& Settings::operator=(unsigned int value) {
    m_value = std::to_string(value);
    return *this;
}

Settings& Settings::operator=(unsigned long value) {
    m_value = std::to_string(value);
    return *this;
}

Settings& Settings::operator=(unsigned long long value) {
    m_value = std::to_string(value);
    return *this;
}

Settings& Settings::operator=(short value) {
    return *this = static_cast<int>(value);
}

Settings& Settings::operator=(unsigned short value) {
    return *this = static_cast<unsigned int>(value);
}

Settings& Settings::operator=(signed char value) {
    return *this = static_cast<int>(value);
}

Settings& Settings::operator=(unsigned char value) {
    return *this = static_cast<unsigned int>(value);
}

Settings& Settings::operator=(double value) {
    m_value = FormatNumber("%0.64f", value);
    return *this;
}

Settings& Settings::operator=(float value) {
    m_value = FormatNumber("%f", value);
    return *this;
}

Settings& Settings::operator=(bool value) {
    m_value.assign(1, value ? '1' : '0');
    return *this;
}

Settings& Settings::operator=(std::string_view value) {
    m_value.assign(value);
    return *this;
}

Settings& Settings::operator=(const std::string& value) {
    m_value = value;
    return *this;
}

Settings& Settings::operator=(std::string&& value) {
    m_value = std::move(value);
    return *this;
}

Settings& Settings::operator=(const char* value) {
    // A null pointer stores the empty text.
    return *this = KeyOf(value);
}

Settings& Settings::operator=(std::wstring_view value) {
    m_value = VTools::String::WideToUtf8(value);
    return *this;
}

Settings& Settings::operator=(const std::wstring& value) {
    return *this = std::wstring_view(value);
}

Settings& Settings::operator=(const wchar_t* value) {
    // A null pointer stores the empty text.
    return *this = value ? std::wstring_view(value) : std::wstring_view();
}

Settings& Settings::operator=(const CRect& value) {
    m_value = std::to_string(value.left) + ' ' + std::to_string(value.top) + ' ' + std::to_string(value.right) + ' ' +
              std::to_string(value.bottom);
    return *this;
}

Settings& Settings::operator=(const CPoint& value) {
    m_value = std::to_string(value.x) + ' ' + std::to_string(value.y);
    return *this;
}

Settings& Settings::operator=(const CSize& value) {
    m_value = std::to_string(value.cx) + ' ' + std::to_string(value.cy);
    return *this;
}

Settings& Settings::operator=(const COleDateTime& value) {
    return *this = value.m_dt;
}

// ---------------------------------------------------------------------------
// Typed conversion

Settings::operator int() const {
    return IsEmpty() ? 0 : std::stoi(m_value);
}

Settings::operator long() const {
    return IsEmpty() ? 0L : std::stol(m_value);
}

Settings::operator long long() const {
    return IsEmpty() ? 0LL : std::stoll(m_value);
}

Settings::operator unsigned int() const {
    return IsEmpty() ? 0u : ParseUnsigned32(m_value);
}

Settings::operator unsigned long() const {
    return IsEmpty() ? 0UL : std::stoul(m_value);
}

Settings::operator unsigned long long() const {
    return IsEmpty() ? 0ULL : std::stoull(m_value);
}

Settings::operator short() const {
    return IsEmpty() ? static_cast<short>(0) : Narrow<short>(std::stoi(m_value), "stoi");
}

Settings::operator unsigned short() const {
    return IsEmpty() ? static_cast<unsigned short>(0) : Narrow<unsigned short>(ParseUnsigned32(m_value), "stoul");
}

Settings::operator signed char() const {
    return IsEmpty() ? static_cast<signed char>(0) : Narrow<signed char>(std::stoi(m_value), "stoi");
}

Settings::operator unsigned char() const {
    return IsEmpty() ? static_cast<unsigned char>(0) : Narrow<unsigned char>(ParseUnsigned32(m_value), "stoul");
}

Settings::operator double() const {
    return IsEmpty() ? 0.0 : std::stod(m_value);
}

Settings::operator float() const {
    return IsEmpty() ? 0.0f : std::stof(m_value);
}

Settings::operator bool() const {
    return static_cast<int>(*this) != 0;
}

Settings::operator CRect() const {
    int left = 0, top = 0, right = 0, bottom = 0;
    if (std::sscanf(m_value.c_str(), "%d %d %d %d", &left, &top, &right, &bottom) != 4) return CRect();
    return CRect(left, top, right, bottom);
}

Settings::operator CPoint() const {
    int x = 0, y = 0;
    if (std::sscanf(m_value.c_str(), "%d %d", &x, &y) != 2) return CPoint();
    return CPoint(x, y);
}

Settings::operator CSize() const {
    int cx = 0, cy = 0;
    if (std::sscanf(m_value.c_str(), "%d %d", &cx, &cy) != 2) return CSize();
    return CSize(cx, cy);
}

Settings::operator COleDateTime() const {
    return COleDateTime(std::stod(m_value));
}

Settings::operator std::wstring() const {
    return VTools::String::Utf8ToWide(m_value);
}

Settings::operator std::string_view() const& {
    return m_value;
}

Settings::operator const std::string&() const& {
    return m_value;
}

Settings::operator const char*() const& {
    return m_value.c_str();
}
