#pragma once

#include <juce_events/juce_events.h>
#include <functional>

namespace MessagePump
{
    /** Runs the message loop until the condition holds or the time is up; true when it held. */
    bool until (const std::function<bool()>& condition, int timeoutMs = 5000);

    /** Runs the message loop until every message posted before the call has been delivered. */
    void drain();
}
