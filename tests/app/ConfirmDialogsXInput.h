#pragma once

#include <memory>

/** Sends what a user would to a top-level window, as real X events on a connection of its own. Kept apart from the framework's headers,
    whose names the X headers' macros would clash with.
*/
class ConfirmDialogsXInput
{
public:
    ConfirmDialogsXInput();
    ~ConfirmDialogsXInput();

    bool isConnected() const noexcept;

    /** A left click at a position inside the window, in its own pixels. */
    void click (unsigned long window, int x, int y);

    void pressEscape (unsigned long window);

    /** An event the program ignores. The framework reads its X connection when the socket has
        data, so an event that a call elsewhere already pulled into its queue can wait there until
        the next one arrives: a tester waiting for an answer sends this now and then.
    */
    void nudge (unsigned long window);

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
};
