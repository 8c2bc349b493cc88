#include "multithreading/BufferManager.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "text/StringConversion.h"

namespace Multithreading {

BufferManager::BufferManager(const char* data, std::uint64_t count) : m_data(data, data + count) {}

BufferManager::BufferManager(std::vector<char>&& data) : m_data(std::move(data)) {}

BufferManager::BufferManager(BufferManager&& other) noexcept
    : m_data(std::exchange(other.m_data, {})), m_position(other.m_position) {
    // The source keeps the position, which must not pass its (now empty) data.
    other.m_position = 0;
}

BufferManager& BufferManager::operator=(BufferManager&& other) noexcept {
    if (this != &other) {
        m_data = std::exchange(other.m_data, {});
        m_position = other.m_position;
        other.m_position = 0;
    }
    return *this;
}

std::vector<char>::const_iterator BufferManager::begin() const {
    return m_data.begin() + static_cast<std::ptrdiff_t>(m_position);
}

std::vector<char>::const_iterator BufferManager::end() const {
    return m_data.end();
}

std::uint64_t BufferManager::Size() const {
    return m_data.size() - m_position;
}

std::string BufferManager::GetDataAsString() const {
    return std::string(m_data.begin(), m_data.end());
}

std::uint64_t BufferManager::CalculateHowManyBytesCanProcess(std::uint64_t declaredLength, std::uint64_t copied) const {
    if (declaredLength < copied) {
        throw std::length_error(VTools::String::Utf8ToAnsi(
            "Deklarowana d\xC5\x82ugo\xC5\x9B\xC4\x87 bufora jest mniejsza od rozmiaru bufora."));
    }
    return std::min(Size(), declaredLength - copied);
}

void BufferManager::CopyData(std::uint64_t declaredLength, std::uint64_t& copied, char* destination) {
    const std::uint64_t count = CalculateHowManyBytesCanProcess(declaredLength, copied);
    if (count == 0) return;
    std::copy_n(m_data.data() + m_position, count, destination + copied);
    copied += count;
    m_position += count;
}

}  // namespace Multithreading
