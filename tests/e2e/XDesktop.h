#pragma once

#include <memory>
#include <string>
#include <vector>

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

    bool isConnected() const noexcept;

    /** What a window manager sends when the user presses a window's close button. */
    void requestClose (unsigned long window);

    /** Takes the input focus away from every window, then offers it to this one as a window
        manager does. The program handles its window's messages in order, so once hasFocus()
        is true, every message sent to the window before this one has been handled.
    */
    void offerFocus (unsigned long window);

    /** Whether the focus is on this window or on one of its descendants. */
    bool hasFocus (unsigned long window);

    /** A property of 32-bit items (CARDINAL or a format-32 hint); empty when it is missing. */
    std::vector<long> readLongs (unsigned long window, const char* property);

    /** An ATOM[] property given as the atoms' names. */
    std::vector<std::string> readAtomNames (unsigned long window, const char* property);

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
};
