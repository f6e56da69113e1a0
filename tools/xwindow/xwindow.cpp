// xwindow: finds a top-level window of an X display by its title and asks it to close, as a window
// manager's close box does (WM_DELETE_WINDOW). For the tests that start the real program under Xvfb.
//   xwindow wait TITLE SECONDS   waits until a window titled TITLE is mapped; exit status 0 when it is
//   xwindow close TITLE          sends the window WM_DELETE_WINDOW; exit status 0 when it was found
//   xwindow geometry TITLE       prints the window's width and height ("600x500")
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string titleOf(Display* display, Window window) {
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

// Depth-first over the window tree; the first viewable window with the title.
Window find(Display* display, Window root, const std::string& title) {
    Window parent = 0, rootOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &rootOut, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
            titleOf(display, children[i]) == title)
            found = children[i];
        if (found == 0) found = find(display, children[i], title);
    }
    if (children != nullptr) XFree(children);
    return found;
}

int usage() {
    std::fputs("usage: xwindow wait TITLE SECONDS | close TITLE | geometry TITLE\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const std::string title = argv[2];
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("xwindow: cannot open the display\n", stderr);
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    int status = 1;
    if (command == "wait" && argc == 4) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
        while (std::chrono::steady_clock::now() < deadline && status != 0) {
            if (find(display, root, title) != 0)
                status = 0;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } else if (command == "close" && argc == 3) {
        const Window window = find(display, root, title);
        if (window != 0) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, window, False, NoEventMask, &event);
            XFlush(display);
            status = 0;
        }
    } else if (command == "geometry" && argc == 3) {
        const Window window = find(display, root, title);
        XWindowAttributes attributes{};
        if (window != 0 && XGetWindowAttributes(display, window, &attributes)) {
            std::printf("%dx%d\n", attributes.width, attributes.height);
            status = 0;
        }
    } else {
        status = usage();
    }
    if (status == 1) std::fprintf(stderr, "xwindow: no window titled \"%s\"\n", title.c_str());
    XCloseDisplay(display);
    return status;
}
