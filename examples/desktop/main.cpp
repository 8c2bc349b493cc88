// Monitors, the clipboard and the keyboard: these need an X display
// (DISPLAY set); without one they fail or read as empty.
#include <VLibIncludes.h>

#include <iostream>

int main() {
    // A Monitors object is empty until Init() reads the layout.
    Monitors monitors;
    if (!monitors.Init() || monitors.GetCount() == 0) {
        std::cerr << "no display\n";
        return 1;
    }
    for (std::uint64_t i = 0; i < monitors.GetCount(); ++i) {
        Monitor monitor = monitors.GetMonitor(i);
        RECT rect{};
        monitor.GetMonitorRect(&rect);
        std::cout << VTools::String::WideToUtf8(monitor.GetName()) << " " << rect.left << "," << rect.top << " "
                  << rect.right - rect.left << "x" << rect.bottom - rect.top
                  << (monitor.IsPrimaryMonitor() ? " primary" : "") << "\n";
    }

    // Text on the clipboard stays offered to other programs after this one
    // ends (the clipboard keeper serves it).
    const std::wstring text = L"WIG20 2345,67 zł";
    if (VTools::Clipboard::CopyStringToClipboard(nullptr, text)) {
        const auto back = VTools::Clipboard::GetClipboardString(nullptr);
        std::cout << "clipboard: " << (back ? VTools::String::WideToUtf8(*back) : "(none)") << "\n";
    }

    std::cout << "ctrl down: " << VTools::Keyboard::IsCtrlPressed() << "\n";
}
