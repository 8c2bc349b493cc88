// A keyless digit-text scrambler: turns a text into decimal digits and back so
// that it cannot be read at a glance.  It gives no protection beyond that.
//
// Narrow form: each byte x (taken as signed) becomes printf "%03d" of x - 25;
// bytes 0x80-0xB5 are written as their unsigned value less 25 (103-156), so
// that every group is three characters and every narrow text reads back.
// Wide form: each UTF-16 unit u becomes L"%05d" of u - 25 (five characters).
//
// Decrypt returns an empty string for an input whose length is not a multiple
// of the group length; a group that holds no number decodes as 0 + 25.
//
// Threads: the functions keep no state and may be called from any thread at
// once; CryptAsASCII reads the ANSI code page (set it at start-up).
#pragma once

#include <string>
#include <string_view>

#include "VLibExport.h"

class VLIB_API SimpleCrypt {
public:
    static std::string Crypt(std::string_view text);
    // A wchar_t above 0xFFFF is scrambled as its surrogate pair.
    static std::wstring Crypt(std::wstring_view text);
    // Converts to the ANSI code page, scrambles narrow and widens the digits;
    // read it back with the narrow Decrypt after narrowing the digits.
    // Throws the converters' "Last error: " exception if a conversion fails.
    static std::wstring CryptAsASCII(std::wstring_view text);
    static std::string Decrypt(std::string_view digits);
    static std::wstring Decrypt(std::wstring_view digits);
    static void Test();
};
