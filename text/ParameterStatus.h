// A parameter's status: a state the application defines (0 in a default
// record) and the message that goes with it.
//
// Threads: a plain value: one object is used by one thread at a time (or read by
// several).
//
// Status() keeps its name although Xlib defines Status as a macro: the header
// sets the macro aside while it is read, so it may follow <X11/Xlib.h>.
#pragma once

#pragma push_macro("Status")
#undef Status

#include <cstdint>
#include <string>
#include <string_view>

#include "VLibExport.h"

class VLIB_API ParameterStatus {
public:
    // The enumerators are the application's; this class only stores the value.
    enum State : std::int32_t {};

    ParameterStatus() = default;
    ParameterStatus(State state, std::wstring text);

    void Set(State state, std::wstring_view text);
    State Status() const;
    const std::wstring& Text() const&;
    // Not on temporaries: the reference would outlive the text.
    const std::wstring& Text() const&& = delete;

private:
    State m_state{};
    std::wstring m_text;
};

#pragma pop_macro("Status")
