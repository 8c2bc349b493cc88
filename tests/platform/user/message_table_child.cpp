// The child process of the registered-message tests: registers the names
// of a file (UTF-8, one per line) and prints each one's number, then
// "shared <table file>" or "local".
//
// With ORDER ("parent-first" or "child-first") it registers one name, forks
// without exec, and the two processes register one half of the names each
// at the same time; the one named first starts, the other starts once the
// first has registered its first name.  The numbers are printed as above.
//
// usage: message_table_child LOCK_TIMEOUT_MS NAMES_FILE [ORDER]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/nls/CodePage.h"
#include "platform/user/Messages.h"
#include "platform/user/internal/MessageTable.h"

namespace {

std::vector<unsigned> RegisterForked(const std::vector<std::wstring>& names, bool childFirst) {
    RegisterWindowMessageW(L"Vlib_BeforeTheFork");  // the table file is open from here on
    int go[2], results[2];
    if (pipe(go) != 0 || pipe(results) != 0) std::exit(3);
    const pid_t pid = fork();
    if (pid < 0) std::exit(3);
    const bool child = pid == 0;
    const bool leads = child == childFirst;
    const std::size_t half = names.size() / 2;
    std::vector<unsigned> numbers;
    for (std::size_t i = child ? half : 0; i < (child ? names.size() : half); ++i) {
        char byte = 'x';
        if (numbers.empty() && !leads && read(go[0], &byte, 1) != 1) std::exit(3);
        numbers.push_back(RegisterWindowMessageW(names[i].c_str()));
        if (numbers.size() == 1 && leads && write(go[1], &byte, 1) != 1) std::exit(3);
    }
    if (child) {
        std::string text;
        for (const unsigned number : numbers) text += std::to_string(number) + "\n";
        const bool written = write(results[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written ? 0 : 3);
    }
    close(results[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(results[0], buffer, sizeof buffer)) > 0;) text.append(buffer, buffer + got);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || status != 0) std::exit(3);
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        numbers.push_back(static_cast<unsigned>(std::stoul(text.substr(at, end - at))));
    }
    return numbers;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) return 2;
    vplatform::test::SetMessageTableLockTimeout(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    std::ifstream file(argv[2]);
    std::vector<std::wstring> names;
    for (std::string line; std::getline(file, line);) {
        std::wstring name(line.size(), L'\0');
        const int units = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), name.data(),
                                              static_cast<int>(name.size()));
        name.resize(static_cast<std::size_t>(units > 0 ? units : 0));
        names.push_back(name);
    }
    std::vector<unsigned> numbers;
    if (argc == 4) {
        numbers = RegisterForked(names, std::string(argv[3]) == "child-first");
    } else {
        for (const auto& name : names) numbers.push_back(RegisterWindowMessageW(name.c_str()));
    }
    for (const unsigned number : numbers) std::printf("%u\n", number);
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
