// The child process of the registered-message tests: registers the names
// of a file (UTF-8, one per line) and prints each one's number, then
// "shared <table file>" or "local".
//
// usage: message_table_child LOCK_TIMEOUT_MS NAMES_FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/nls/CodePage.h"
#include "platform/user/Messages.h"
#include "platform/user/internal/MessageTable.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    vplatform::test::SetMessageTableLockTimeout(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    std::ifstream names(argv[2]);
    std::string line;
    while (std::getline(names, line)) {
        std::wstring name(line.size(), L'\0');
        const int units = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), name.data(),
                                              static_cast<int>(name.size()));
        name.resize(static_cast<std::size_t>(units > 0 ? units : 0));
        std::printf("%u\n", RegisterWindowMessageW(name.c_str()));
    }
    wchar_t path[4096];
    if (vplatformGetMessageTableFile(path, 4096)) {
        std::string narrow(16384, '\0');
        narrow.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, path, -1, narrow.data(),
                                                                   static_cast<int>(narrow.size()), nullptr, nullptr) -
                                               1));
        std::printf("shared %s\n", narrow.c_str());
    } else {
        std::printf("local\n");
    }
    return 0;
}
