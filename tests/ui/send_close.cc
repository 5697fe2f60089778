// send_close WINDOW-ID: asks an X client to close one of its windows, as a
// window manager's close button does (a WM_DELETE_WINDOW message). The
// test display runs no window manager, so the console test closes the
// window with this.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
struct DisplayClose {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: send_close WINDOW-ID\n");
    return 2;
  }
  std::unique_ptr<Display, DisplayClose> display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "send_close: cannot open the display\n");
    return 1;
  }
  const Window window = std::strtoul(argv[1], nullptr, 0);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] =
      static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  if (XSendEvent(display.get(), window, False, NoEventMask, &event) == 0) return 1;
  XFlush(display.get());
  return 0;
}
