// vtools scramble / unscramble: the digit-text scrambler.
#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

// Splits the arguments into the one text and the --wide flag.
std::pair<std::string, bool> TextAndForm(const std::vector<std::string>& args) {
    std::string text;
    bool wide = false, haveText = false;
    for (const auto& arg : args) {
        if (arg == "--wide") {
            wide = true;
        } else if (arg.starts_with("--")) {
            throw UsageError("unknown option '" + arg + "'");
        } else if (!haveText) {
            text = arg;
            haveText = true;
        } else {
            throw UsageError("expected one text (quote it if it holds spaces)");
        }
    }
    if (!haveText) throw UsageError("expected a text");
    return {text, wide};
}

int Scramble(const std::vector<std::string>& args) {
    const auto [text, wide] = TextAndForm(args);
    const std::wstring wideText = FromTerminal(text);
    const std::wstring digits =
        wide ? SimpleCrypt::Crypt(std::wstring_view(wideText))
             : VTools::String::AnsiToWide(SimpleCrypt::Crypt(VTools::String::WideToAnsi(wideText)));
    WriteOutput(ToTerminal(digits) + "\n");
    return 0;
}

int Unscramble(const std::vector<std::string>& args) {
    const auto [digits, wide] = TextAndForm(args);
    const std::size_t group = wide ? 5 : 3;
    if (digits.size() % group != 0) {
        throw InputError("the digit text's length is not a multiple of " + std::to_string(group));
    }
    const std::wstring text = wide ? SimpleCrypt::Decrypt(std::wstring_view(FromTerminal(digits)))
                                   : VTools::String::AnsiToWide(SimpleCrypt::Decrypt(digits));
    WriteOutput(ToTerminal(text) + "\n");
    return 0;
}

const Registration scramble{{
    "scramble",
    "turn a text into scrambled digits",
    "usage: vtools scramble [--wide] TEXT\n\n"
    "Writes the digit form of TEXT: three digits per byte of its ANSI-code-page\n"
    "form (see vtools --acp), or with --wide five digits per UTF-16 unit.\n",
    Scramble,
}};

const Registration unscramble{{
    "unscramble",
    "turn scrambled digits back into the text",
    "usage: vtools unscramble [--wide] DIGITS\n\n"
    "Writes the text that DIGITS describe (narrow groups of three, or with --wide\n"
    "groups of five).\n",
    Unscramble,
}};

}  // namespace
}  // namespace vtools
