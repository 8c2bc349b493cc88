// VLOG: a log entry that names its own place.
//
//   VLOG(message);
//
// writes the same entry as
//
//   VTools::Log::Instance().Write("Namespace::Class::Function", __LINE__, message);
//
// The function's name is worked out while compiling, from the compiler's
// signature of the calling function: namespaces, classes and the function,
// without return type, parameters, qualifiers or template arguments (a
// member of Box<T> is "Box::Put", a specialisation of Max<T> is "Max").  The
// anonymous namespace is left out.  In a lambda the place is the function
// that holds the lambda, as a hand-written call in its body would name it.
// Operators keep their symbol ("Price::operator<").  Nothing is computed at
// run time beyond what Write does.
//
// Threads and failures: those of Log::Write (any thread; never throws; does
// nothing while the log is closed).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "diagnostics/Log.h"

namespace VTools::LogPlace {

// The qualified name, NUL-terminated, in a buffer as long as the signature.
template <std::size_t N>
struct FunctionName {
    char text[N]{};
    constexpr std::string_view View() const { return text; }
};

namespace detail {

constexpr bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '~';
}

// The part of a compiler signature that names the function, template
// argument lists included; empty when it cannot be found.
constexpr std::string_view NamePart(std::string_view signature) {
    // "R f(T) [with T = int]" (GCC) or "R f(T) [T = int]" (Clang): the
    // template bindings go first; in a lambda, "f()::<lambda()>" or
    // "f()::(anonymous class)::operator()()", the enclosing function is the
    // place.
    if (const std::size_t with = signature.find(" [with "); with != std::string_view::npos) {
        signature = signature.substr(0, with);
    } else if (signature.ends_with(']') && signature.rfind(" [") != std::string_view::npos) {
        signature = signature.substr(0, signature.rfind(" ["));
    }
    for (const std::string_view lambda : {std::string_view("::<lambda"), std::string_view("::(anonymous class)")}) {
        if (const std::size_t at = signature.find(lambda); at != std::string_view::npos) {
            signature = signature.substr(0, at);
        }
    }
    // The parameter list is the bracket pair that the last ')' closes.
    const std::size_t close = signature.rfind(')');
    if (close == std::string_view::npos) return {};
    std::size_t open = close;
    for (int depth = 0;; --open) {
        if (signature[open] == ')') ++depth;
        if (signature[open] == '(' && --depth == 0) break;
        if (open == 0) return {};
    }
    std::size_t end = open;
    // An operator's symbol may hold brackets and spaces: the name is read
    // back from the word "operator".
    std::size_t scan = end;
    if (const std::size_t op = signature.rfind("operator", end);
        op != std::string_view::npos && (op == 0 || !IsNameChar(signature[op - 1]) || signature[op - 1] == ':')) {
        scan = op;
    }
    // Backwards over the qualified name; template argument lists may hold
    // spaces and brackets.
    std::size_t begin = scan;
    int angles = 0;
    int parens = 0;
    while (begin > 0) {
        const char c = signature[begin - 1];
        if (c == '>') ++angles;
        if (c == '<') --angles;
        if (c == ')') ++parens;
        if (c == '(') --parens;
        if (angles == 0 && parens == 0 && (c == ' ' || c == '*' || c == '&')) break;
        --begin;
    }
    return signature.substr(begin, end - begin);
}

// Writes the qualified name of the function whose compiler signature is
// `signature` to `out` (at least signature.size() + 1 chars), NUL-terminated;
// returns its length.
constexpr std::size_t WriteName(std::string_view signature, char* out) {
    const std::string_view name = NamePart(signature);
    const std::size_t op = name.find("operator");
    std::size_t length = 0;
    int angles = 0;
    for (std::size_t i = 0; i < name.size();) {
        // The anonymous namespace is not part of the place.
        bool skipped = false;
        for (const std::string_view anonymous :
             {std::string_view("{anonymous}::"), std::string_view("(anonymous namespace)::")}) {
            if (!skipped && angles == 0 && name.substr(i, anonymous.size()) == anonymous) {
                i += anonymous.size();
                skipped = true;
            }
        }
        if (skipped) continue;
        const char c = name[i++];
        const bool inOperator = op != std::string_view::npos && i > op;
        if (!inOperator && c == '<') ++angles;
        if (angles == 0) out[length++] = c;
        if (!inOperator && c == '>') --angles;
    }
    out[length] = '\0';
    return length;
}

}  // namespace detail

// The qualified name of the function whose compiler signature is `signature`
// (__PRETTY_FUNCTION__).
template <std::size_t N>
consteval FunctionName<N> QualifiedName(const char (&signature)[N]) {
    FunctionName<N> name;
    detail::WriteName(std::string_view(signature, N - 1), name.text);
    return name;
}

// The name kept for the life of the program (a template parameter object),
// one per distinct name.
template <auto Name>
constexpr std::string_view Kept() {
    return Name.View();
}

}  // namespace VTools::LogPlace

// The qualified name of the calling function, as VLOG writes it: a
// std::string_view on text that lives as long as the program.
#define VLOG_FUNCTION() (::VTools::LogPlace::Kept<::VTools::LogPlace::QualifiedName(__PRETTY_FUNCTION__)>())

// Writes `message` (narrow text in the ANSI code page) to the process's log
// with the calling function's qualified name and the line of the call.
#define VLOG(message) ::VTools::Log::Instance().Write(VLOG_FUNCTION(), __LINE__, (message))
