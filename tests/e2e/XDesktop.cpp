#include "XDesktop.h"

#include <X11/Xlib.h>

namespace
{
/** The atoms a desktop's window manager has made by the time a program opens its windows. */
constexpr const char* windowManagerAtoms[] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_STATE", "_NET_WM_PING",
    "_MOTIF_WM_HINTS", "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_CLOSE",
    "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_FULLSCREEN"
};
}

struct XDesktop::Connection
{
    Display* display = XOpenDisplay (nullptr);

    ~Connection()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }

    /** A client message to the window's owner, the program (no event mask sends it there). */
    void sendClientMessage (unsigned long window, const char* type, long data)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.display = display;
        event.xclient.window = (Window) window;
        event.xclient.message_type = XInternAtom (display, type, False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = data;
        event.xclient.data.l[1] = CurrentTime;

        XSendEvent (display, (Window) window, False, NoEventMask, &event);
        XSync (display, False);
    }

    /** A window manager's message under WM_PROTOCOLS. */
    void sendProtocolMessage (unsigned long window, const char* protocol)
    {
        sendClientMessage (window, "WM_PROTOCOLS", (long) XInternAtom (display, protocol, False));
    }
};

XDesktop::XDesktop() : connection (std::make_unique<Connection>())
{
    if (connection->display == nullptr)
        return;

    for (auto* name : windowManagerAtoms)
        XInternAtom (connection->display, name, False);

    XSync (connection->display, False);
}

XDesktop::~XDesktop() = default;

bool XDesktop::isConnected() const noexcept
{
    return connection->display != nullptr;
}

void XDesktop::requestClose (unsigned long window)
{
    connection->sendProtocolMessage (window, "WM_DELETE_WINDOW");
}

void XDesktop::nudge (unsigned long window)
{
    connection->sendClientMessage (window, "_QUENDRIX_TEST_NUDGE", 0);
}

void XDesktop::offerFocus (unsigned long window)
{
    XSetInputFocus (connection->display, None, RevertToNone, CurrentTime);
    connection->sendProtocolMessage (window, "WM_TAKE_FOCUS");
}

bool XDesktop::hasFocus (unsigned long window)
{
    auto* display = connection->display;
    Window focus = None;
    int revertTo = 0;
    XGetInputFocus (display, &focus, &revertTo);

    while (focus != None && focus != PointerRoot)
    {
        if (focus == (Window) window)
            return true;

        Window root = None, parent = None, *children = nullptr;
        unsigned int count = 0;

        if (! XQueryTree (display, focus, &root, &parent, &children, &count))
            return false;

        if (children != nullptr)
            XFree (children);

        focus = parent == root ? None : parent;
    }

    return false;
}
