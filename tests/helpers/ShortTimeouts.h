#pragma once

#include "PedalProtocol.h"

/** Shortens the pedal protocol's time-outs for one test and puts the program's own back after. */
class ShortTimeouts
{
public:
    ShortTimeouts (unsigned int commandMs, unsigned int exportChunkMs, unsigned int importChunkMs)
        : saved { t.commandMs.exchange (commandMs), t.exportChunkMs.exchange (exportChunkMs), t.importChunkMs.exchange (importChunkMs) }
    {
    }

    ~ShortTimeouts()
    {
        t.commandMs = saved[0];
        t.exportChunkMs = saved[1];
        t.importChunkMs = saved[2];
    }

private:
    PedalProtocol::Timeouts& t = PedalProtocol::timeouts();
    const unsigned int saved[3];

    JUCE_DECLARE_NON_COPYABLE (ShortTimeouts)
};
