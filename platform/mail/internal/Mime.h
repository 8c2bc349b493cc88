// The MIME composer of the mail client: one message as the bytes that go out.
//
// Headers follow RFC 5322 (Date, From, To, Subject, Message-ID, MIME-Version,
// content fields), folded near 76 columns and always 7-bit: a subject or
// display name that is not plain printable ASCII goes out as RFC 2047
// encoded-words (UTF-8, base64), each whole characters only; a file name that
// is not short printable ASCII as an RFC 2231 `filename*` parameter, split
// into continuations.  Control characters of header texts become spaces and
// ill-formed UTF-8 becomes U+FFFD, so no text can start a header of its own.
// Every line ends in CR LF (bare CR and LF of the body are normalised) and
// stays within 998 bytes.  The body is text/html when it contains "<html"
// (any case), else text/plain, both UTF-8; it goes out as 7bit when it is
// 7-bit with short lines, else quoted-printable.  Attachments make the
// message multipart/mixed and go out in base64.
//
// The composer is pure: given a boundary, a date and a message id it gives
// the same bytes every time; missing ones are generated (a random boundary
// and id, the local time of composition).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PlatformExport.h"

namespace vplatform::mail {

struct Mailbox {
    std::string name;     // display name, UTF-8 (may be empty)
    std::string address;  // the address as given
};

struct Attachment {
    std::string fileName;                      // UTF-8, without folders
    std::shared_ptr<const std::string> bytes;  // the file's contents
};

// One message; texts are UTF-8.  Copied by tasks, so the file contents are
// shared rather than copied.
struct EmailData {
    Mailbox from;
    std::vector<Mailbox> to;
    std::string subject;
    std::string body;
    std::vector<Attachment> attachments;
    std::string boundary;   // multipart boundary; generated when empty or unusable
    std::string date;       // Date field text; the local time when empty or unusable
    std::string messageId;  // Message-ID without brackets; generated when empty or unusable
};

// The message's bytes.  Exported for the tests and the fuzz target only.
VPLATFORM_API std::string ComposeMime(const EmailData& email);

// Why an address cannot be used in a header or an SMTP command (a control
// character, a space, an angle bracket, a byte outside ASCII, more than 254
// bytes); empty when it can.
VPLATFORM_API std::string AddressProblem(std::string_view address);

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string WellFormedUtf8(std::string_view text);
bool IsWellFormedUtf8(std::string_view text);

// The text from the last '\\' or '/' on.
std::string FileNameOfPath(std::string_view path);

// Base64 of `bytes` in lines of `lineLength` characters joined by CR LF (0:
// one line).
VPLATFORM_API std::string EncodeBase64(std::string_view bytes, std::size_t lineLength);

}  // namespace vplatform::mail
