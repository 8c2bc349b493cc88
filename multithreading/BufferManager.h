// A chunk of received bytes with a read position, from which a parser
// assembles messages of a declared length across several chunks.
//
// CopyData throws std::length_error (a std::exception) with the text
// "Deklarowana długość bufora jest mniejsza od rozmiaru bufora." (in the ANSI
// code page) when the declared length is smaller than what was already
// copied; the position and the count then stay as they were.
//
// Threads: a plain value: one object is used by one thread at a time (or read by
// several through its const members).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VLibExport.h"

namespace Multithreading {

class VLIB_API BufferManager {
public:
    BufferManager() = default;
    // Copies `count` bytes.
    BufferManager(const char* data, std::uint64_t count);
    // Takes the bytes over.
    BufferManager(std::vector<char>&& data);
    BufferManager(const BufferManager&) = default;
    // Takes the bytes (the source is left empty) and copies the position.
    BufferManager(BufferManager&& other) noexcept;
    BufferManager& operator=(const BufferManager&) = default;
    BufferManager& operator=(BufferManager&& other) noexcept;
    ~BufferManager() = default;

    // The first unread byte and the end of the bytes.
    std::vector<char>::const_iterator begin() const;
    std::vector<char>::const_iterator end() const;
    // The number of unread bytes.
    std::uint64_t Size() const;
    // All bytes of the chunk, read or not, zero bytes included.
    std::string GetDataAsString() const;
    // Moves the unread bytes still missing from a message of `declaredLength`
    // bytes, of which `copied` are already in `destination`, to
    // destination + copied, and advances `copied` and the position.
    void CopyData(std::uint64_t declaredLength, std::uint64_t& copied, char* destination);

private:
    std::uint64_t CalculateHowManyBytesCanProcess(std::uint64_t declaredLength, std::uint64_t copied) const;

    std::vector<char> m_data;
    std::uint64_t m_position = 0;
};

}  // namespace Multithreading
