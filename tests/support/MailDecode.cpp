#include "tests/support/MailDecode.h"

#include <boost/json.hpp>

#include "tests/support/Peer.h"

namespace vlibtest {
namespace {

constexpr const char* kDecoder = R"(
import base64, email, email.policy, json, sys
m = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.default)
def boxes(field):
    return [[a.display_name, a.addr_spec] for a in m[field].addresses] if m[field] else []
body = m.get_body(preferencelist=('plain', 'html'))
out = {
    'subject': str(m['subject'] or ''),
    'from': boxes('from'),
    'to': boxes('to'),
    'body_type': body.get_content_type(),
    'body': body.get_content().replace('\r\n', '\n'),
    'attachments': [[a.get_filename(), a.get_content_type(), base64.b64encode(a.get_payload(decode=True)).decode()]
                    for a in m.iter_attachments()],
    'headers': list(m.keys()),
}
print(json.dumps(out))
)";

std::string FromBase64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        const auto at = alphabet.find(c);
        if (at == std::string::npos) continue;
        value = value << 6 | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

}  // namespace

DecodedMail DecodeWithPython(const std::string& bytes) {
    DecodedMail mail;
    const auto json = RunPeer({"/usr/bin/python3", "-c", kDecoder}, bytes);
    if (!json) return mail;
    const auto object = boost::json::parse(*json).as_object();
    const auto text = [](const boost::json::value& v) { return std::string(v.as_string().c_str()); };
    mail.subject = text(object.at("subject"));
    for (const auto& box : object.at("from").as_array()) {
        mail.from = {text(box.as_array()[0]), text(box.as_array()[1])};
    }
    for (const auto& box : object.at("to").as_array()) {
        mail.to.push_back({text(box.as_array()[0]), text(box.as_array()[1])});
    }
    mail.bodyType = text(object.at("body_type"));
    mail.body = text(object.at("body"));
    for (const auto& part : object.at("attachments").as_array()) {
        const auto& fields = part.as_array();
        mail.attachments.push_back(
            {fields[0].is_null() ? "" : text(fields[0]), text(fields[1]), FromBase64(text(fields[2]))});
    }
    for (const auto& name : object.at("headers").as_array()) mail.headerNames.push_back(text(name));
    mail.ok = true;
    return mail;
}

}  // namespace vlibtest
