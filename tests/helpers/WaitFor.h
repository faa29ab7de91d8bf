#pragma once

#include <juce_events/juce_events.h>

/** Waits until the condition holds or timeoutMs has passed, and returns the condition's last
    value. On the message thread it keeps the message loop running in short slices meanwhile,
    so timers and asynchronous notifications go on; elsewhere it polls.
*/
inline bool waitFor (const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() >= deadline)
            return condition();

        if (juce::MessageManager::existsAndIsCurrentThread())
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        else
            juce::Thread::sleep (5);
    }

    return true;
}
