#include <gtest/gtest.h>

#include "TransferBuffer.h"

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

juce::MemoryBlock counting (size_t size)
{
    juce::MemoryBlock bytes (size);

    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char) (i * 13);

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

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.asked);
        TrickleStream stream (counting (c.held), true);
        TransferBuffer buffer;

        EXPECT_EQ (buffer.load (stream, c.asked), c.result);

        if (c.result != Result::shortRead)
            EXPECT_EQ (juce::MemoryBlock (buffer.getData(), buffer.getSize()), counting (c.result == Result::loaded ? (size_t) c.asked : 0));
    }
}

TEST (TransferBuffer, BytesThatNeverArriveReadAsSilenceNotAsOldMemory)
{
    TransferBuffer buffer;
    TrickleStream stream (counting (1000), true);

    ASSERT_EQ (buffer.load (stream, 1000), TransferBuffer::LoadResult::loaded);
    ASSERT_TRUE (buffer.allocate (1000));
    EXPECT_TRUE (std::all_of (buffer.getData(), buffer.getData() + 1000, [] (juce::uint8 b) { return b == 0; }));
}
