// Runs peer programs (iconv, python3, openssl…) to cross-check the library's
// results against an independent implementation.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vlibtest {

// Runs `argv` with `input` on its standard input and returns its standard
// output, or nothing when the program cannot be started or exits non-zero.
std::optional<std::string> RunPeer(const std::vector<std::string>& argv, const std::string& input = {});

// True when `program` is found on PATH.
bool HavePeer(const std::string& program);

// Bytes as lowercase hex digits, the form in which peers are asked and answer.
std::string Hex(std::string_view bytes);

}  // namespace vlibtest
