#include "ConfirmDialogsXInput.h"

#include <initializer_list>

#include <X11/Xlib.h>
#include <X11/keysym.h>

struct ConfirmDialogsXInput::Connection
{
    Display* display = XOpenDisplay (nullptr);

    ~Connection()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }

    // Key and button events share these fields.
    template <typename InputEvent>
    void address (InputEvent& event, int type, unsigned long window, int x, int y) const
    {
        event.type = type;
        event.display = display;
        event.window = (Window) window;
        event.root = DefaultRootWindow (display);
        event.time = CurrentTime;
        event.x = event.x_root = x;
        event.y = event.y_root = y;
        event.same_screen = True;
    }

    // With no event mask the event goes to the client that created the window: the program.
    void send (unsigned long window, XEvent& event)
    {
        XSendEvent (display, (Window) window, False, NoEventMask, &event);
        XFlush (display);
    }
};

ConfirmDialogsXInput::ConfirmDialogsXInput() : connection (std::make_unique<Connection>()) {}
ConfirmDialogsXInput::~ConfirmDialogsXInput() = default;

bool ConfirmDialogsXInput::isConnected() const noexcept
{
    return connection->display != nullptr;
}

void ConfirmDialogsXInput::click (unsigned long window, int x, int y)
{
    for (auto type : { ButtonPress, ButtonRelease })
    {
        XEvent event {};
        connection->address (event.xbutton, type, window, x, y);
        event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        event.xbutton.button = Button1;
        connection->send (window, event);
    }
}

void ConfirmDialogsXInput::pressEscape (unsigned long window)
{
    for (auto type : { KeyPress, KeyRelease })
    {
        XEvent event {};
        connection->address (event.xkey, type, window, 0, 0);
        event.xkey.keycode = XKeysymToKeycode (connection->display, XK_Escape);
        connection->send (window, event);
    }
}

void ConfirmDialogsXInput::nudge (unsigned long window)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.display = connection->display;
    event.xclient.window = (Window) window;
    event.xclient.message_type = XInternAtom (connection->display, "QUENDRIX_TEST_NUDGE", False);
    event.xclient.format = 32;
    connection->send (window, event);
}
