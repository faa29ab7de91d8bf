#pragma once

#include "PedalProtocol.h"

/** Shortens the pedal protocol's time-outs for one test and puts the program's own back after. */
class ShortTimeouts
{
public:
    ShortTimeouts (unsigned int commandMs, unsigned int exportChunkMs, unsigned int importChunkMs)
        : saved { timeouts.commandMs.exchange (commandMs), timeouts.exportChunkMs.exchange (exportChunkMs),
                  timeouts.importChunkMs.exchange (importChunkMs) }
    {
    }

    ~ShortTimeouts()
    {
        timeouts.commandMs = saved[0];
        timeouts.exportChunkMs = saved[1];
        timeouts.importChunkMs = saved[2];
    }

private:
    PedalProtocol::Timeouts& timeouts = PedalProtocol::timeouts();
    const unsigned int saved[3];

    JUCE_DECLARE_NON_COPYABLE (ShortTimeouts)
};
