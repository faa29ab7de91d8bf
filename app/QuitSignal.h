#pragma once

#include <juce_events/juce_events.h>

#include <signal.h>

/** Turns SIGINT (Ctrl-C) into a quit request that waits for a running transfer to end.

    On Linux the framework's own handler ends the message loop directly, past the application's
    quit gate, and a worker would then meet a USB library and a window that shutdown has deleted.
    Here the signal only wakes the message thread, which keeps running meanwhile (a worker's alert
    needs it) and quits once nothing is busy. Create it on the message thread after the framework
    has started; it puts the previous handler back when it goes.
*/
class QuitSignal : private juce::Timer
{
public:
    QuitSignal (std::function<bool()> isBusy, std::function<void()> quit);
    ~QuitSignal() override;

private:
    void timerCallback() override;

    std::function<bool()> isBusy;
    std::function<void()> quit;
    struct sigaction previousAction {};
    bool installed = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuitSignal)
};
