// BinaryStringSerializer: archives in memory carried as hex text.
#include "encoding/BinaryStringSerializer.h"

#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>

#include <boost/json/string.hpp>

#include "encoding/internal/Hex.h"

namespace {

constexpr UINT kGrowBytes = 512;
constexpr int kArchiveBuffer = 4096;

std::vector<std::uint8_t> DecodeText(const char* text, std::size_t size) {
    std::vector<std::uint8_t> bytes(size / BinaryStringSerializer::NumberSignsInByte);
    VTools::HexInternal::Decode(text, bytes.size(), bytes.data());
    return bytes;
}

}  // namespace

BinaryStringSerializer::BinaryStringSerializer() : m_openOk(1) {
    m_memFile.emplace(kGrowBytes);
    m_archive.emplace(&*m_memFile, CArchive::store, kArchiveBuffer);
}

BinaryStringSerializer::BinaryStringSerializer(const std::string& text) {
    OpenForLoading(text.data(), text.size());
}

BinaryStringSerializer::BinaryStringSerializer(const boost::json::value& value) {
    const boost::json::string& text = value.as_string();
    OpenForLoading(text.data(), text.size());
}

void BinaryStringSerializer::OpenForLoading(const char* text, std::size_t size) {
    m_openOk = size != 0 ? 1 : 0;
    m_bytes = DecodeText(text, size);
    // A memory file addresses at most 4 GiB - 1 bytes at once.
    if (m_bytes.size() > std::numeric_limits<UINT>::max()) throw std::length_error("archive text too long");
    m_memFile.emplace(m_bytes.data(), static_cast<UINT>(m_bytes.size()), 0);
    m_archive.emplace(&*m_memFile, CArchive::load, kArchiveBuffer);
}

BinaryStringSerializer::~BinaryStringSerializer() {
    m_archive.reset();
    m_memFile.reset();
}

CArchive& BinaryStringSerializer::GetArchive() {
    return m_archive.value();
}

std::string BinaryStringSerializer::GetString() {
    if (m_openOk == 0 || !m_archive || !m_memFile || !m_archive->IsStoring()) return {};
    m_archive->Flush();
    const ULONGLONG length = m_memFile->GetLength();
    const std::unique_ptr<BYTE, decltype(&std::free)> buffer(m_memFile->Detach(), &std::free);
    return ConvertBinToText(buffer.get(), length);
}

boost::json::value BinaryStringSerializer::ToJson() {
    const std::string text = GetString();
    return boost::json::string(text);
}

std::string BinaryStringSerializer::ConvertBinToText(const std::uint8_t* bytes, std::uint64_t count) {
    std::string text;
    if (count == 0) return text;
    text.resize(static_cast<std::size_t>(count) * NumberSignsInByte);
    VTools::HexInternal::Encode(bytes, static_cast<std::size_t>(count), text.data());
    return text;
}

bool BinaryStringSerializer::ConvertTextToBin(const std::string& text, std::uint8_t* destination,
                                              std::uint64_t expectedCount) {
    if (expectedCount == 0 || text.size() / NumberSignsInByte != expectedCount) return false;
    VTools::HexInternal::Decode(text.data(), static_cast<std::size_t>(expectedCount), destination);
    return true;
}
