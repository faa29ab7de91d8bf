#include "XDesktop.h"

#include <X11/Xlib.h>

#include <initializer_list>

XDesktop::XDesktop() : display (XOpenDisplay (nullptr))
{
    if (display == nullptr)
        return;

    // The atoms a desktop's window manager has made by the time a program opens its windows;
    // each call is a round trip, so the atom exists once it returns.
    for (auto* name : { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_STATE", "_NET_WM_PING", "_MOTIF_WM_HINTS",
                        "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_CLOSE",
                        "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_FULLSCREEN" })
        XInternAtom (display, name, False);
}

XDesktop::~XDesktop()
{
    if (display != nullptr)
        XCloseDisplay (display);
}

void XDesktop::offerFocus (unsigned long window)
{
    XSetInputFocus (display, None, RevertToNone, CurrentTime);
    sendMessage (window, "WM_PROTOCOLS", "WM_TAKE_FOCUS");
}

void XDesktop::sendMessage (unsigned long window, const char* type, const char* item)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = item != nullptr ? (long) XInternAtom (display, item, False) : 0;
    event.xclient.data.l[1] = CurrentTime;

    // No event mask: it goes to the window's owner.
    XSendEvent (display, window, False, NoEventMask, &event);
    XSync (display, False);
}
