#include "XDesktop.h"

#include <X11/Xatom.h>
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

    /** A window manager's message under WM_PROTOCOLS. With no event mask it goes to the
        window's owner: the program.
    */
    void sendProtocolMessage (unsigned long window, const char* protocol)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.display = display;
        event.xclient.window = (Window) window;
        event.xclient.message_type = XInternAtom (display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) XInternAtom (display, protocol, False);
        event.xclient.data.l[1] = CurrentTime;

        XSendEvent (display, (Window) window, False, NoEventMask, &event);
        XSync (display, False);
    }

    template <typename Item, typename Use>
    void readProperty (unsigned long window, const char* property, Atom wantedType, Use&& use)
    {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;

        if (XGetWindowProperty (display, (Window) window, XInternAtom (display, property, False), 0, 1024, False,
                                wantedType, &actualType, &format, &count, &remaining, &data) == Success
             && data != nullptr && format == 32)
        {
            // Format-32 items arrive as longs, whatever the size of a long.
            const auto* items = reinterpret_cast<const Item*> (data);

            for (unsigned long i = 0; i < count; ++i)
                use (items[i]);
        }

        if (data != nullptr)
            XFree (data);
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

std::vector<long> XDesktop::readLongs (unsigned long window, const char* property)
{
    std::vector<long> values;
    connection->readProperty<long> (window, property, AnyPropertyType, [&] (long item) { values.push_back (item); });
    return values;
}

std::vector<std::string> XDesktop::readAtomNames (unsigned long window, const char* property)
{
    std::vector<std::string> names;

    connection->readProperty<Atom> (window, property, XA_ATOM, [&] (Atom atom)
    {
        if (auto* name = XGetAtomName (connection->display, atom))
        {
            names.emplace_back (name);
            XFree (name);
        }
    });

    return names;
}
