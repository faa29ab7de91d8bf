#include "WaitFor.h"

#include <juce_events/juce_events.h>

bool waitFor (const std::function<bool()>& condition, int timeoutMs)
{
    constexpr int sliceMs = 5;
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    const auto onMessageThread = messageManager != nullptr && messageManager->isThisTheMessageThread();

    while (! condition())
    {
        const auto remaining = deadline - juce::Time::getMillisecondCounterHiRes();

        if (remaining <= 0)
            return condition();

        const auto slice = juce::jlimit (1, sliceMs, (int) remaining);

        if (onMessageThread)
            messageManager->runDispatchLoopUntil (slice);
        else
            juce::Thread::sleep (slice);
    }

    return true;
}
