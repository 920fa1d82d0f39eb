// Takes the CLIPBOARD selection of $DISPLAY and never answers a request for
// it, as a hung application would. Runs until it is killed or its display
// goes away.
#include <X11/Xlib.h>

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False), window, CurrentTime);
  XSync(display, False);
  // Requests arrive as events and are dropped unanswered; a lost connection
  // ends the program through Xlib's default handler.
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
  }
}
