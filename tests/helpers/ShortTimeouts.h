#pragma once

#include "PedalProtocol.h"

/** Shortens the pedal protocol's time-outs for one test and puts the program's own back after. */
class ShortTimeouts
{
public:
    explicit ShortTimeouts (unsigned int commandMs = 150, unsigned int exportChunkMs = 150, unsigned int importChunkMs = 150)
    {
        auto& t = PedalProtocol::timeouts();
        t.commandMs = commandMs;
        t.exportChunkMs = exportChunkMs;
        t.importChunkMs = importChunkMs;
    }

    ~ShortTimeouts()
    {
        auto& t = PedalProtocol::timeouts();
        t.commandMs = saved[0];
        t.exportChunkMs = saved[1];
        t.importChunkMs = saved[2];
    }

private:
    const unsigned int saved[3] { PedalProtocol::timeouts().commandMs.load(),
                                  PedalProtocol::timeouts().exportChunkMs.load(),
                                  PedalProtocol::timeouts().importChunkMs.load() };

    JUCE_DECLARE_NON_COPYABLE (ShortTimeouts)
};
