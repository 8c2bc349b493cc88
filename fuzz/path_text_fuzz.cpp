// Takes Windows-form paths apart with the VTools::Path decomposition
// functions and checks how the pieces fit together: the file name is a tail
// of the path and the folder a head of it; the stem and extension start the
// file name; the path without its extension, followed by the rest of the file
// name after the stem, is the path again.  Each input byte picks one
// character from a small alphabet rich in separators, colons and dots.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "system/Path.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool StartsWith(const std::wstring& text, const std::wstring& head) {
    return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const wchar_t alphabet[] = {L'\\', L'/', L':',   L'.',   L'a',  L'b', L'C', L'?',
                                       L' ',  L'$', 0x0141, 0xD800, L'\\', L'.', L'/', L'x'};
    std::wstring path;
    for (std::size_t i = 0; i < size; ++i) path += alphabet[data[i] % (sizeof alphabet / sizeof alphabet[0])];

    const std::wstring name = VTools::Path::GetFileName(path, true);
    const std::wstring stem = VTools::Path::GetFileName(path, false);
    const std::wstring folder = VTools::Path::GetFileFolder(path);
    const std::wstring extension = VTools::Path::GetExtension(path);
    const std::wstring withoutExtension = VTools::Path::RemoveExtension(path);

    Check(EndsWith(path, name));
    Check(StartsWith(path, folder));
    Check(extension.empty() || extension.front() == L'.');
    Check(StartsWith(name, stem + extension));
    Check(withoutExtension + name.substr(stem.size()) == path);
    return 0;
}
