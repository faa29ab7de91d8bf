#include <gtest/gtest.h>

#include "TransferBuffer.h"

TEST (TransferBuffer, LoadsExactlyTheBytesAskedForOrSaysWhyNot)
{
    using Result = TransferBuffer::LoadResult;
    const struct { size_t held; juce::int64 asked; Result result; } cases[] {
        { 1000, 1000, Result::loaded }, { 999, 1000, Result::shortRead }, { 10, 0, Result::loaded },
        { 10, (juce::int64) 1 << 62, Result::noMemory },
    };

    // One buffer for all: a byte that never arrives reads as silence, not as what was there before.
    TransferBuffer buffer;

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.asked);
        std::vector<juce::uint8> expected (c.held, 0xa5);
        juce::MemoryInputStream stream (expected.data(), expected.size(), true);
        EXPECT_EQ (buffer.load (stream, c.asked), c.result);

        expected.resize (c.result == Result::noMemory ? 0 : (size_t) c.asked, 0);
        EXPECT_EQ (std::vector<juce::uint8> (buffer.getData(), buffer.getData() + buffer.getSize()), expected);
    }
}
