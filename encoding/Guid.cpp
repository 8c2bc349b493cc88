#include "encoding/Guid.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/com/Com.h"
#include "platform/com/Rpc.h"
#include "text/Converter.h"

Guid::Guid() : m_guid{} {}

Guid::Guid(const GUID& guid) : m_guid(guid) {}

Guid::Guid(const Guid& other) : m_guid(other.m_guid) {}

Guid::Guid(const std::wstring& text) : m_guid(Convert(text)) {}

Guid& Guid::operator=(const GUID& guid) {
    Copy(guid);
    return *this;
}

Guid& Guid::operator=(const Guid& other) {
    Copy(other);
    return *this;
}

Guid& Guid::operator=(const std::wstring& text) {
    m_guid = Convert(text);
    return *this;
}

bool Guid::Create() {
    return UuidCreate(&m_guid) == RPC_S_OK;
}

bool Guid::operator==(const Guid& other) const {
    return Compare(other.m_guid) == 0;
}

bool Guid::operator==(const GUID& other) const {
    return Compare(other) == 0;
}

bool Guid::operator!=(const Guid& other) const {
    return Compare(other.m_guid) != 0;
}

bool Guid::operator!=(const GUID& other) const {
    return Compare(other) != 0;
}

bool Guid::operator<(const Guid& other) const {
    return Compare(other.m_guid) < 0;
}

bool Guid::operator<(const GUID& other) const {
    return Compare(other) < 0;
}

int Guid::Compare(const GUID& other) const {
    return std::memcmp(&m_guid, &other, sizeof(GUID));
}

std::wstring Guid::Convert() const {
    wchar_t text[40];
    const int written = StringFromGUID2(m_guid, text, 40);
    if (written <= 0) return {};
    return std::wstring(text, static_cast<std::size_t>(written - 1));
}

Guid::operator std::wstring() const {
    return Convert();
}

GUID Guid::Convert(const std::wstring& text) {
    GUID guid{};
    if (text.size() < 36) return guid;
    std::string narrow;
    try {
        VTools::ConverterWideCharToMultiByte converter(CP_ACP);
        converter.Convert(text);
        narrow = static_cast<std::string_view>(converter);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return guid;  // the converters refuse texts of 2^31 units or more
    }
    narrow.erase(std::remove(narrow.begin(), narrow.end(), '{'), narrow.end());
    narrow.erase(std::remove(narrow.begin(), narrow.end(), '}'), narrow.end());
    GUID parsed{};
    if (UuidFromStringA(reinterpret_cast<RPC_CSTR>(narrow.data()), &parsed) == RPC_S_OK) guid = parsed;
    return guid;
}

void Guid::Copy(const Guid& other) {
    m_guid = other.m_guid;
}

void Guid::Copy(const GUID& other) {
    m_guid = other;
}
