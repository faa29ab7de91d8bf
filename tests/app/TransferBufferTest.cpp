#include <gtest/gtest.h>

#include "TransferBuffer.h"

#include <numeric>

namespace
{
/** Hands out at most seven bytes per read, as a slow stream may. */
struct TrickleStream : public juce::MemoryInputStream
{
    using MemoryInputStream::MemoryInputStream;

    int read (void* destination, int maxBytes) override
    {
        return MemoryInputStream::read (destination, juce::jmin (maxBytes, 7));
    }
};

std::vector<juce::uint8> counting (size_t size)
{
    std::vector<juce::uint8> bytes (size);
    std::iota (bytes.begin(), bytes.end(), (juce::uint8) 1);
    return bytes;
}
}

TEST (TransferBuffer, LoadsExactlyTheBytesAskedForOrSaysWhyNot)
{
    using Result = TransferBuffer::LoadResult;
    const struct { size_t held; juce::int64 asked; Result result; } cases[] {
        { 1000, 1000, Result::loaded },
        { 999, 1000, Result::shortRead },
        { 10, 0, Result::loaded },
        { 10, (juce::int64) 1 << 62, Result::noMemory },
    };

    // One buffer for all: a byte that never arrives reads as silence, not as what was there before.
    TransferBuffer buffer;

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.asked);
        auto expected = counting (c.held);
        TrickleStream stream (expected.data(), expected.size(), true);
        EXPECT_EQ (buffer.load (stream, c.asked), c.result);

        expected.resize (c.result == Result::noMemory ? 0 : (size_t) c.asked, 0);
        EXPECT_EQ (std::vector<juce::uint8> (buffer.getData(), buffer.getData() + buffer.getSize()), expected);
    }
}
