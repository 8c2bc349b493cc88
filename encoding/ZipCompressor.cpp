#include "encoding/ZipCompressor.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <gsl/narrow>

namespace VTools {
namespace {

// zlib's working unit: output (and, for streams, input) is handled in pieces
// of this size.
constexpr std::size_t kChunk = 16384;
// The vector variant doubles its output piece after every filled one up to
// this size: 16 KiB pieces cost about a quarter more time than one zlib call
// on literal-heavy data, while a piece that fits the second-level cache keeps
// the lines that the growing vector's zero-filling touched warm for zlib's
// writes.
constexpr std::size_t kLargestChunk = std::size_t{256} << 10;

// An initialised inflate stream, ended on every way out.
class InflateStream {
public:
    InflateStream() { m_status = inflateInit(&m_stream); }
    ~InflateStream() {
        if (m_status == Z_OK) inflateEnd(&m_stream);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // Z_OK, or the code with which initialisation failed.
    int Status() const { return m_status; }
    z_stream* operator->() { return &m_stream; }
    z_stream* get() { return &m_stream; }

private:
    z_stream m_stream{};
    int m_status;
};

// Restores a vector's size unless dismissed (the appended tail is dropped on
// failure and on exceptions).
class SizeRollback {
public:
    SizeRollback(std::vector<char>& vector) : m_vector(vector), m_size(vector.size()) {}
    ~SizeRollback() {
        if (m_armed) m_vector.resize(m_size);
    }
    SizeRollback(const SizeRollback&) = delete;
    SizeRollback& operator=(const SizeRollback&) = delete;
    void Dismiss() { m_armed = false; }

private:
    std::vector<char>& m_vector;
    std::size_t m_size;
    bool m_armed = true;
};

}  // namespace

bool ZipCompressor::Inflate(std::vector<char>& input, std::vector<char>& output) {
    if (input.empty()) return false;
    InflateStream stream;
    if (stream.Status() != Z_OK) return false;
    const std::size_t inputSize = input.size();
    stream->avail_in = gsl::narrow<uInt>(inputSize);

    // The bytes are expanded straight into the output's tail, one piece at a
    // time; the piece's unused rest is cut off again after each step, and the
    // loop goes on while zlib filled the piece completely.  A first
    // reservation guesses a typical ratio so that a fresh output is not copied
    // on every doubling.
    SizeRollback rollback(output);
    constexpr std::size_t kMostGuessed = std::size_t{64} << 20;
    const std::size_t guess = std::min(input.size(), kMostGuessed / 4) * 4;
    if (output.capacity() - output.size() < guess) output.reserve(output.size() + guess);
    bool ended = false;
    for (std::size_t chunk = kChunk;; chunk = std::min(chunk * 2, kLargestChunk)) {
        const std::size_t size = output.size();
        output.resize(size + chunk);
        // `input` may be `output` itself, whose bytes move when it grows: the
        // unread input is found again by its offset before every step (the
        // input stays the output's unchanged front).
        stream->next_in = reinterpret_cast<Bytef*>(input.data()) + (inputSize - stream->avail_in);
        stream->next_out = reinterpret_cast<Bytef*>(output.data() + size);
        stream->avail_out = static_cast<uInt>(chunk);
        const int status = ::inflate(stream.get(), Z_NO_FLUSH);
        output.resize(size + chunk - stream->avail_out);
        if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR) return false;
        if (status == Z_STREAM_END) ended = true;
        if (stream->avail_out != 0) break;
    }
    rollback.Dismiss();
    return ended;
}

int ZipCompressor::Inflate(FILE* source, FILE* destination) {
    InflateStream stream;
    if (stream.Status() != Z_OK) return stream.Status();
    unsigned char in[kChunk];
    unsigned char out[kChunk];
    int status = Z_OK;
    do {
        stream->avail_in = static_cast<uInt>(std::fread(in, 1, kChunk, source));
        if (std::ferror(source)) return Z_ERRNO;
        if (stream->avail_in == 0) break;
        stream->next_in = in;
        do {
            stream->avail_out = static_cast<uInt>(kChunk);
            stream->next_out = out;
            status = ::inflate(stream.get(), Z_NO_FLUSH);
            if (status == Z_NEED_DICT || status == Z_DATA_ERROR) return Z_DATA_ERROR;
            if (status == Z_MEM_ERROR) return Z_MEM_ERROR;
            const std::size_t have = kChunk - stream->avail_out;
            if (std::fwrite(out, 1, have, destination) != have || std::ferror(destination)) return Z_ERRNO;
        } while (stream->avail_out == 0);
    } while (status != Z_STREAM_END);
    return status == Z_STREAM_END ? Z_OK : Z_DATA_ERROR;
}

}  // namespace VTools
