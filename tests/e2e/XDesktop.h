#pragma once

struct _XDisplay;

/** The test's own connection to the X display the program runs on, standing in for the parts
    of a desktop that a bare X server lacks. A window manager creates the atoms through which a
    program states its window's protocols and permitted actions; the framework only uses atoms
    that already exist, so they are created here before the program starts. The connection stays
    open meanwhile, or the server could reset and forget them.

    Kept apart from the framework's headers, whose names the X headers' macros would clash with.
*/
class XDesktop
{
public:
    XDesktop();
    ~XDesktop();

    bool isConnected() const noexcept       { return display != nullptr; }

    /** What a window manager sends when the user presses a window's close button. */
    void requestClose (unsigned long window)    { sendMessage (window, "WM_PROTOCOLS", "WM_DELETE_WINDOW"); }

    /** An event of no meaning to the program, sent to one of its windows. The framework reads
        its X connection only when the socket has data, so an event that one of its own calls
        pulled into its queue meanwhile waits there until the next one arrives; on a desktop
        the next one comes at once, on a bare X server this one stands in for it.
    */
    void nudge (unsigned long window)           { sendMessage (window, "_QUENDRIX_TEST_NUDGE", nullptr); }

    /** Takes the input focus away from every window, then offers it to this one as a window
        manager does. The program handles its window's messages in order, so once the window
        has the focus, every message sent to it before this one has been handled.
    */
    void offerFocus (unsigned long window);

private:
    /** A client message to the window's owner, the program, its first item an atom or 0. */
    void sendMessage (unsigned long window, const char* type, const char* item);

    _XDisplay* const display;
};
