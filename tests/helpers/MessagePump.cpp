#include "MessagePump.h"

namespace MessagePump
{

bool until (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();

        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    return true;
}

void drain()
{
    // Messages are delivered in order, so once this one arrives every earlier one has.
    auto delivered = std::make_shared<bool> (false);
    juce::MessageManager::callAsync ([delivered] { *delivered = true; });
    until ([delivered] { return *delivered; }, 10000);
}

} // namespace MessagePump
