// A message decoded by python3's email package (policy "default"), to check
// what the mail client composes against an independent reader.
#pragma once

#include <string>
#include <vector>

namespace vlibtest {

struct DecodedMailbox {
    std::string name;  // UTF-8
    std::string address;
};

struct DecodedAttachment {
    std::string fileName;  // UTF-8
    std::string contentType;
    std::string bytes;
};

struct DecodedMail {
    std::string subject;  // UTF-8
    DecodedMailbox from;
    std::vector<DecodedMailbox> to;
    std::string bodyType;  // text/plain or text/html
    std::string body;      // UTF-8, line breaks as "\n"
    std::vector<DecodedAttachment> attachments;
    std::vector<std::string> headerNames;  // of the top level, in order
    bool ok = false;
};

// Decodes `bytes` with /usr/bin/python3; `ok` is false when python fails.
DecodedMail DecodeWithPython(const std::string& bytes);

}  // namespace vlibtest
