#pragma once

namespace juce
{

class HelpTools
{
public:
    /** A byte count with a decimal unit, such as "1.536 KB"; the bool has no effect. */
    static String stringFromBytesWithUnit (double bytes, bool unused = false);
};

} // namespace juce
