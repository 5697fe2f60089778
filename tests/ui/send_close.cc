// send_close WINDOW-ID: asks an X client to close one of its windows, as a
// window manager's close button does (a WM_DELETE_WINDOW message). The
// test display runs no window manager, so the console test closes the
// window with this.
#include <X11/Xlib.h>

#include <string>

int main(int argc, char** argv) {
  Display* display = argc == 2 ? XOpenDisplay(nullptr) : nullptr;
  if (display == nullptr) return 2;  // usage: send_close WINDOW-ID, on a display
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = std::stoul(argv[1], nullptr, 0);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event) != 0;
  XCloseDisplay(display);  // flushes the request
  return sent ? 0 : 1;
}
