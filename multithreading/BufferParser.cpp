#include "multithreading/BufferParser.h"

#include <utility>

#include "multithreading/internal/Hooks.h"
#include "multithreading/internal/WorkQueue.h"

namespace Multithreading {

BufferParser::BufferParser(std::string name)
    : m_name(std::move(name)), m_queue(std::make_unique<internal::WorkQueue<BufferManager>>(m_name)) {}

BufferParser::~BufferParser() {
    m_queue.reset();
}

void BufferParser::StartParsing(const Callback& callback) {
    m_queue->Start([callback](BufferManager& buffer) {
        if (buffer.Size() == 0) return;  // empty chunks never reach the callback
        try {
            callback(buffer);
        } catch (...) {
            internal::LogCurrentException("Multithreading::BufferParser::StartParsing::<lambda_1>::operator ()",
                                          __LINE__);
        }
    });
}

void BufferParser::StopParsing() {
    m_queue->Stop();
}

void BufferParser::AddBuffer(const char* data, std::uint64_t count) {
    m_queue->Push(BufferManager(data, count));
}

void BufferParser::ClearBuffers() {
    m_queue->Clear();
}

std::uint64_t BufferParser::BuffersCount() const {
    return m_queue->Size();
}

bool BufferParser::IsRunning() const {
    return m_queue->Running();
}

}  // namespace Multithreading
