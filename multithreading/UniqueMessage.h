// A registered window message: a name and the number RegisterWindowMessageW
// gave it, the same in every process that registers the name
// (platform/user/Messages.h says where the numbers are kept).
//
// The library registers its own two messages (those of
// Multithreading::TaskLoopExecutor) while it is loaded, before any of its
// functions can be called.
//
// Failure: a name that cannot be registered (empty, longer than 255 UTF-16
// units) gives the id 0; nothing is reported.
//
// Threads: a UniqueMessage is immutable once made and may be read from any
// thread; any thread may make one.
#pragma once

#include <cstdint>
#include <string>

#include "VLibExport.h"

class VLIB_API UniqueMessage {
public:
    // Registers `name` (UTF-16).
    explicit UniqueMessage(std::wstring name);
    // Copies and moves take the name and the id; nothing is registered again.
    UniqueMessage(const UniqueMessage&) = default;
    UniqueMessage(UniqueMessage&&) noexcept = default;
    UniqueMessage& operator=(const UniqueMessage&) = default;
    UniqueMessage& operator=(UniqueMessage&&) noexcept = default;
    // A registered number stays valid for the session: nothing to undo.
    ~UniqueMessage() = default;

    std::uint32_t Id() const { return m_id; }
    operator std::uint32_t() const { return m_id; }
    const std::wstring& MessageName() const& { return m_name; }
    const std::wstring& MessageName() const&& = delete;

private:
    std::wstring m_name;
    std::uint32_t m_id;
};
