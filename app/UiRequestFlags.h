#pragma once

#include <juce_core/juce_core.h>
#include <atomic>

/** The request byte through which the hot-plug callbacks and the transfer workers ask the
    message thread's timer for work. Every change is one atomic read-modify-write, so no writer
    ever loses another's bit.
*/
class UiRequestFlags
{
public:
    enum Bits : juce::uint8
    {
        pendingArrival   = 0x02,
        pendingDeparture = 0x04,
        controlsRequestMask = 0x18
    };

    enum ControlsRequest : juce::uint8
    {
        noRequest       = 0,
        disableControls = 1,
        enableControls  = 2
    };

    explicit UiRequestFlags (juce::uint8 initialBits = pendingDeparture) noexcept : bits (initialBits) {}

    void set (Bits bit) noexcept                { bits.fetch_or (bit); }
    bool testAndClear (Bits bit) noexcept       { return (bits.fetch_and ((juce::uint8) ~bit) & bit) != 0; }
    bool isSet (Bits bit) const noexcept        { return (bits.load() & bit) != 0; }

    /** Replaces the controls request as a whole. */
    void requestControls (ControlsRequest request) noexcept
    {
        auto current = bits.load();

        while (! bits.compare_exchange_weak (current, (juce::uint8) ((current & ~controlsRequestMask)
                                                                     | ((request << 3) & controlsRequestMask))))
        {}
    }

    /** Takes the controls request and leaves none in its place. */
    ControlsRequest takeControlsRequest() noexcept
    {
        return (ControlsRequest) ((bits.fetch_and ((juce::uint8) ~controlsRequestMask) & controlsRequestMask) >> 3);
    }

    ControlsRequest peekControlsRequest() const noexcept
    {
        return (ControlsRequest) ((bits.load() & controlsRequestMask) >> 3);
    }

    juce::uint8 getRawBits() const noexcept     { return bits.load(); }

private:
    std::atomic<juce::uint8> bits;

    JUCE_DECLARE_NON_COPYABLE (UiRequestFlags)
};
