// An output stream buffer that hands its bytes to a ReplacingFileWriter, so
// that code writing to a std::ostream can replace a file safely.
#pragma once

#include <streambuf>

#include "platform/kernel/ReplacingFile.h"

namespace VTools::EncodingInternal {

// Unbuffered: every insertion reaches the writer at once (callers write in
// chunks).  A failed write makes the stream's insertion fail (badbit); the
// writer keeps the error code.
class ReplacingWriterBuf : public std::streambuf {
public:
    explicit ReplacingWriterBuf(vplatform::ReplacingFileWriter& writer) : m_writer(writer) {}

protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        return m_writer.Write(std::string_view(data, static_cast<std::size_t>(count))) == ERROR_SUCCESS ? count : 0;
    }
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        const char c = traits_type::to_char_type(ch);
        return m_writer.Write(std::string_view(&c, 1)) == ERROR_SUCCESS ? ch : traits_type::eof();
    }

private:
    vplatform::ReplacingFileWriter& m_writer;
};

}  // namespace VTools::EncodingInternal
