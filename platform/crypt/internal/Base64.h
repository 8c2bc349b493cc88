// A Base64 decoder (standard alphabet, RFC 4648) for the platform's own
// use, such as the bodies of PEM blocks.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vplatform {

// Appends the bytes of `text` to `out`.  White space (space, tab, CR, LF) is
// skipped anywhere; "=" padding may end the text (two or one characters),
// and may also be left out.  False, with `out` as it was, for any other
// character, for a group of a single character, or for characters after the
// padding.
bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace vplatform
