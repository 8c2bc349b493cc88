#include "multithreading/BufferParser.h"

#include <utility>

#include "diagnostics/Log.h"
#include "multithreading/internal/WorkerThread.h"

namespace Multithreading {

BufferParser::BufferParser(std::string name) : m_name(std::move(name)) {}

BufferParser::~BufferParser() {
    if (m_worker.joinable()) internal::StopQuietly([this] { StopParsing(); });
}

void BufferParser::StartParsing(const Callback& callback) {
    if (m_worker.joinable()) return;
    internal::StartWorker(m_worker, m_mutex, m_running, m_name, [this, callback] {
        while (m_running) {
            BufferManager buffer = GetNextBuffer();
            if (buffer.Size() == 0) {
                WaitForBufferOrEnd();
                continue;
            }
            try {
                callback(buffer);
            } catch (...) {
                LogAllExceptions("Multithreading::BufferParser::StartParsing::<lambda_1>::operator ()", __LINE__);
            }
        }
    });
}

void BufferParser::StopParsing() {
    internal::StopWorker(m_worker, m_mutex, m_wake, m_running);
    std::deque<BufferManager> discarded;
    std::lock_guard lock(m_mutex);
    discarded.swap(m_queue);
}

void BufferParser::AddBuffer(const char* data, std::uint64_t count) {
    BufferManager buffer(data, count);
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(buffer));
    }
    m_wake.notify_one();
}

void BufferParser::ClearBuffers() {
    std::deque<BufferManager> discarded;
    std::lock_guard lock(m_mutex);
    discarded.swap(m_queue);
}

std::uint64_t BufferParser::BuffersCount() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool BufferParser::IsRunning() const {
    return m_running;
}

BufferManager BufferParser::GetNextBuffer() {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return {};
    BufferManager buffer = std::move(m_queue.front());
    m_queue.pop_front();
    return buffer;
}

void BufferParser::WaitForBufferOrEnd() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_queue.empty() || !m_running; });
}

}  // namespace Multithreading
