// A program with X windows for the window tests, as another application
// would have.  Each argument makes one window, in this order (later ones are
// higher in the stacking order):
//
//   main[@X,Y,W,H]  mapped, takes WM_DELETE_WINDOW (the process then exits 0)
//   nodelete        mapped, lists no WM_DELETE_WINDOW
//   hidden          never mapped
//   owned           mapped, WM_TRANSIENT_FOR the first window
//   iconic          mapped with WM_STATE iconic (as a minimised window)
//
//   --note=PATH     (first) writes "closed" to PATH when asked to close
//
// Once every window is made it prints "ready" and the windows' ids (0x…)
// on one line, then serves events until it is asked to close or killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 2;
    const Window root = DefaultRootWindow(display);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    std::vector<Window> windows;
    std::string note;
    int first = 1;
    if (argc > 1 && std::strncmp(argv[1], "--note=", 7) == 0) {
        note = argv[1] + 7;
        first = 2;
    }
    for (int i = first; i < argc; ++i) {
        std::string kind = argv[i];
        int x = 10 + 20 * i;
        int y = 10 + 20 * i;
        int width = 200;
        int height = 100;
        if (const auto at = kind.find('@'); at != std::string::npos) {
            std::sscanf(kind.c_str() + at + 1, "%d,%d,%d,%d", &x, &y, &width, &height);
            kind.resize(at);
        }
        const Window window = XCreateSimpleWindow(display, root, x, y, static_cast<unsigned>(width),
                                                  static_cast<unsigned>(height), 0, 0, 0);
        XSelectInput(display, window, StructureNotifyMask);
        if (kind != "nodelete") XSetWMProtocols(display, window, &deleteWindow, 1);
        if (kind == "owned" && !windows.empty()) XSetTransientForHint(display, window, windows.front());
        if (kind == "iconic") {
            const long state[2] = {3, static_cast<long>(None)};
            XChangeProperty(display, window, wmState, wmState, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(state), 2);
        }
        XStoreName(display, window, kind.c_str());
        // A minimised window's client is unmapped under a window manager.
        if (kind != "hidden" && kind != "iconic") XMapWindow(display, window);
        windows.push_back(window);
    }
    XSync(display, False);
    std::printf("ready");
    for (const Window window : windows) std::printf(" 0x%lx", window);
    std::printf("\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.message_type == protocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
            if (!note.empty()) {
                if (FILE* file = std::fopen(note.c_str(), "w")) {
                    std::fputs("closed", file);
                    std::fclose(file);
                }
            }
            XCloseDisplay(display);
            return 0;
        }
    }
}
