#include "text/ParameterStatus.h"

#include <utility>

ParameterStatus::ParameterStatus(State state, std::wstring text) : m_state(state), m_text(std::move(text)) {}

void ParameterStatus::Set(State state, std::wstring_view text) {
    m_state = state;
    m_text.assign(text);
}

ParameterStatus::State ParameterStatus::Status() const {
    return m_state;
}

const std::wstring& ParameterStatus::Text() const& {
    return m_text;
}
