#include "multithreading/UniqueMessage.h"

#include "platform/user/Messages.h"

UniqueMessage::UniqueMessage(std::wstring name)
    : m_name(std::move(name)), m_id(RegisterWindowMessageW(m_name.c_str())) {}
