// A program the desktop tests start: it holds named mutexes, starts children
// and puts text on the clipboard, as another process would.
//
//   desktop_helper mutex NAME          prints "created" or "existed", holds
//                                      the mutex until its input ends
//   desktop_helper mutex-child NAME    the same, then starts "sleep 60" and
//                                      prints "child PID"
//   desktop_helper detector NAME       AppRunningDetector with the per-folder
//                                      flag: prints "running" or "alone", then
//                                      holds it until its input ends
//   desktop_helper clipboard FILE      puts the UTF-8 text of FILE on the
//                                      clipboard, prints "set", and exits
//   desktop_helper event NAME manual|auto
//                                      CreateEventW: prints "created",
//                                      "existed" or "failed ERROR", then runs
//                                      the lines of its input: "set", "reset"
//                                      (print "done"), "wait MS" (prints
//                                      "signalled" or "timeout")
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include <VLibIncludes.h>

namespace {

void WaitForEndOfInput() {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
}

std::wstring Wide(const std::string& text) {
    return VTools::String::Utf8ToWide(text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    if (command == "mutex" || command == "mutex-child") {
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(argv[2]).c_str());
        if (mutex == nullptr) {
            std::cout << "failed " << GetLastError() << std::endl;
            return 1;
        }
        std::cout << (GetLastError() == ERROR_ALREADY_EXISTS ? "existed" : "created") << std::endl;
        if (command == "mutex-child") {
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info{};
            std::wstring line = L"sleep 60";
            if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
                return 1;
            }
            std::cout << "child " << info.dwProcessId << std::endl;
        }
        WaitForEndOfInput();
        return 0;
    }
    if (command == "detector") {
        AppRunningDetector detector(Wide(argv[2]), true);
        std::cout << (detector.IsAppAlreadyRunning() ? "running" : "alone") << std::endl;
        WaitForEndOfInput();
        return 0;
    }
    if (command == "event" && argc == 4) {
        const HANDLE event = CreateEventW(nullptr, std::string(argv[3]) == "manual", FALSE, Wide(argv[2]).c_str());
        if (event == nullptr) {
            std::cout << "failed " << GetLastError() << std::endl;
            return 1;
        }
        std::cout << (GetLastError() == ERROR_ALREADY_EXISTS ? "existed" : "created") << std::endl;
        for (std::string line; std::getline(std::cin, line);) {
            if (line == "set" || line == "reset") {
                std::cout << ((line == "set" ? SetEvent(event) : ResetEvent(event)) ? "done" : "failed") << std::endl;
            } else if (line.starts_with("wait ")) {
                const DWORD result = WaitForSingleObject(event, static_cast<DWORD>(std::stoul(line.substr(5))));
                std::cout << (result == WAIT_OBJECT_0 ? "signalled" : "timeout") << std::endl;
            }
        }
        CloseHandle(event);
        return 0;
    }
    if (command == "clipboard") {
        std::ifstream file(argv[2], std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const bool set = VTools::Clipboard::CopyStringToClipboard(nullptr, Wide(text));
        std::cout << (set ? "set" : "failed") << std::endl;
        return set ? 0 : 1;
    }
    return 2;
}
