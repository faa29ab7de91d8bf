#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** The part of a simulated device behind its bulk endpoints. The responder asks it about
    every bulk URB, on umockdev's thread and under the responder's lock, so an implementation
    must answer at once and never wait.
*/
class BulkFunction
{
public:
    /** What happens to one URB. */
    struct Outcome
    {
        enum class Kind
        {
            complete,   // done now with status and data (IN) or actualLength (OUT)
            pending,    // not now: an IN URB is asked again, an OUT URB waits to be discarded
            unplug      // the device goes away: this URB and every other fail with -ESHUTDOWN
        };

        Kind kind = Kind::complete;
        int status = 0;                     // 0 or a negative errno, as the kernel reports it
        int actualLength = -1;              // OUT: bytes taken, -1 for all of them
        std::vector<juce::uint8> data;      // IN: bytes delivered

        static Outcome completeIn (std::vector<juce::uint8> bytes)    { Outcome o; o.data = std::move (bytes); return o; }
        static Outcome completeOut (int length = -1)                  { Outcome o; o.actualLength = length; return o; }
        static Outcome failed (int negativeErrno)                     { Outcome o; o.status = negativeErrno; o.actualLength = 0; return o; }
        static Outcome waiting()                                      { Outcome o; o.kind = Kind::pending; return o; }
        static Outcome unplugged()                                    { Outcome o; o.kind = Kind::unplug; return o; }
    };

    virtual ~BulkFunction() = default;

    virtual Outcome bulkOut (juce::uint8 endpoint, const juce::uint8* data, int length) = 0;

    /** Asked for the oldest pending IN URB of an endpoint, again and again until it completes. */
    virtual Outcome bulkIn (juce::uint8 endpoint, int maxLength) = 0;

    /** The device was plugged in or pulled out: whatever was under way is forgotten. */
    virtual void powerCycled() = 0;
};
