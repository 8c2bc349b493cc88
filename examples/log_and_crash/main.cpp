// The log and crash reports: one file log for the process, VLOG naming the
// calling function, Windows error texts, and crash reporting installed.
#include <VLibIncludes.h>

#include <filesystem>
#include <iostream>

namespace quotes {

void LoadSession() {
    // VLOG writes the same entry as
    // VTools::Log::Instance().Write("quotes::LoadSession", __LINE__, ...).
    VLOG("session loaded");
}

}  // namespace quotes

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "vlib-example-log";
    std::filesystem::create_directories(folder);
    const std::wstring logFile = VTools::String::Utf8ToWide((folder / "log.txt").string());
    if (!VTools::Log::Instance().Open(logFile)) return 1;

    quotes::LoadSession();
    // Messages are narrow text in the ANSI code page.
    VLOG(VTools::String::Utf8ToAnsi("Zażółć: ") + VTools::WindowsError::ErrorToString(ERROR_ACCESS_DENIED));

    // Crash reports: a crash from now on leaves crash.json and stack.txt in a
    // folder under `folder`, written by the separate reporter process.
    if (CrashHandler::Install(VTools::String::Utf8ToWide(folder.string()), L"example", L"1.0")) {
        std::cout << "crash reports go to " << folder << "\n";
        CrashHandler::UnInstall();
    }

    // Close writes what is queued and the closing entry: a log left open at
    // the end of main may lose its last entries.
    VTools::Log::Instance().Close();
    std::cout << "log written to " << (folder / "log.txt") << "\n";
}
