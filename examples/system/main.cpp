// Files, processes and a single instance.
#include <VLibIncludes.h>

#include <iostream>

int main() {
    // Paths in Windows form or POSIX form, taken apart.
    const std::wstring report = L"/tmp/reports/session.2026.txt";
    std::cout << "file: " << VTools::String::WideToUtf8(VTools::Path::GetFileName(report, false))
              << ", extension: " << VTools::String::WideToUtf8(VTools::Path::GetExtension(report)) << "\n";

    // One instance per user: a second detector with the same name sees the first.
    AppRunningDetector first(L"vlib-example-instance", false);
    AppRunningDetector second(L"vlib-example-instance", false);
    std::cout << "first alone: " << !first.IsAppAlreadyRunning() << ", second sees it: " << second.IsAppAlreadyRunning()
              << "\n";

    // A program started with a command line split by the Windows rules.
    auto process = VTools::Process::OpenProcess(L"/bin/echo", L"\"one argument\" two");
    if (!process) return 1;
    WaitForSingleObject(process.GetProcessHandle(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.GetProcessHandle(), &code);
    std::cout << "echo ended with " << code << "\n";
}
