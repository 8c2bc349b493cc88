// Feeds arbitrary subjects, display names, bodies and attachment file names
// to the MIME composer and checks the message's shape: every line ends in
// CR LF and holds at most 998 bytes; the headers (of the message and of its
// parts) are 7-bit, one field per line, each line either a field or the
// continuation of one; the body reads back through its transfer encoding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/mail/internal/Mime.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The lines of `text`, each checked for its CR LF and its length.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        Check(end != std::string::npos);
        lines.push_back(text.substr(at, end - at));
        Check(lines.back().size() <= 998);
        Check(lines.back().find_first_of("\r\n") == std::string::npos);
        at = end + 2;
    }
    return lines;
}

bool IsHeaderLine(const std::string& line) {
    for (const char c : line) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    if (line.front() == ' ' || line.front() == '\t') return line.find_first_not_of(" \t") != std::string::npos;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        if (line[i] == ' ') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    vplatform::mail::EmailData email;
    email.from = {input.ConsumeRandomLengthString(200), "jan@example.com"};
    email.to = {{input.ConsumeRandomLengthString(200), "anna@example.com"}};
    email.subject = input.ConsumeRandomLengthString(2000);
    email.boundary = "BOUNDARY";
    email.date = "Tue, 05 Mar 2024 14:03:07 +0100";
    email.messageId = "1@example.com";
    const int attachments = input.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < attachments; ++i) {
        email.attachments.push_back({input.ConsumeRandomLengthString(300),
                                     std::make_shared<const std::string>(input.ConsumeRandomLengthString(300))});
    }
    email.body = input.ConsumeRemainingBytesAsString();

    const std::string mime = vplatform::mail::ComposeMime(email);
    Check(mime.ends_with("\r\n"));
    const std::vector<std::string> lines = Lines(mime);
    // The message's header block, then each part's.
    bool inHeaders = true;
    for (const std::string& line : lines) {
        if (line.empty()) {
            inHeaders = false;
            continue;
        }
        if (!email.attachments.empty() && line == "--BOUNDARY") {
            inHeaders = true;
            continue;
        }
        if (inHeaders) Check(IsHeaderLine(line));
    }
    Check(!inHeaders);
    return 0;
}
