// A named worker thread that passes queued byte chunks, one at a time and in
// arrival order, to a parsing callback.
//
// The receiving thread hands a chunk over with AddBuffer (one copy) and never
// waits for the parser.  Empty chunks are never passed to the callback.  An
// exception that escapes the callback is written to the log and parsing goes
// on with the next chunk.
//
// Failure: StartParsing throws std::system_error when the thread cannot be
// created.  A parser destroyed while running is stopped first (its queued
// chunks are discarded).
//
// Threads: AddBuffer, ClearBuffers, BuffersCount and IsRunning may be called
// from any thread at any time, from the callback too.  StartParsing,
// StopParsing and the destructor come from the parser's owner, one at a time,
// never from the callback.  The callback runs on the worker, one chunk at a
// time; the chunk it gets is the worker's, valid only during the call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "VLibExport.h"
#include "multithreading/BufferManager.h"

namespace Multithreading {

namespace internal {
template <class Item>
class WorkQueue;
}  // namespace internal

class VLIB_API BufferParser {
public:
    using Callback = std::function<void(BufferManager&)>;

    explicit BufferParser(std::string name);
    BufferParser(const BufferParser&) = delete;
    BufferParser& operator=(const BufferParser&) = delete;
    ~BufferParser();

    // Starts the worker with a copy of `callback`.  Ignored while a worker
    // thread is still joinable.
    void StartParsing(const Callback& callback);
    // Lets the chunk in progress finish, joins the worker and discards the
    // queued chunks.  Called from the callback it throws std::system_error
    // (resource deadlock).
    void StopParsing();
    // Copies `count` bytes into a new chunk at the back of the queue; chunks
    // added while stopped wait for the next start.
    void AddBuffer(const char* data, std::uint64_t count);
    void ClearBuffers();
    std::uint64_t BuffersCount() const;
    bool IsRunning() const;

private:
    std::string m_name;
    // The queue and its worker (multithreading/internal/WorkQueue.h).
    std::unique_ptr<internal::WorkQueue<BufferManager>> m_queue;
};

}  // namespace Multithreading
