#include <gtest/gtest.h>

#include "TransferBuffer.h"

namespace
{
/** A stream that hands out at most a few bytes per read, and may claim more than it holds. */
class TrickleStream : public juce::InputStream
{
public:
    TrickleStream (juce::MemoryBlock bytes, juce::int64 claimedLength)
        : data (std::move (bytes)), claimed (claimedLength) {}

    juce::int64 getTotalLength() override   { return claimed; }
    bool isExhausted() override             { return position >= data.getSize(); }
    juce::int64 getPosition() override      { return (juce::int64) position; }
    bool setPosition (juce::int64 p) override { position = (size_t) p; return true; }

    int read (void* destination, int maxBytes) override
    {
        const auto n = juce::jmin ((size_t) maxBytes, (size_t) 7, data.getSize() - position);
        memcpy (destination, data.begin() + position, n);
        position += n;
        return (int) n;
    }

private:
    juce::MemoryBlock data;
    juce::int64 claimed;
    size_t position = 0;
};

juce::MemoryBlock counting (size_t size)
{
    juce::MemoryBlock bytes (size);

    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char) (i * 13);

    return bytes;
}
}

TEST (TransferBuffer, ReadsAWholeStreamInSmallPiecesAndTellsAShortOne)
{
    TrickleStream whole (counting (1000), 1000), cut (counting (999), 1000);
    TransferBuffer buffer;

    ASSERT_EQ (buffer.load (whole, 1000), TransferBuffer::LoadResult::loaded);
    EXPECT_EQ (juce::MemoryBlock (buffer.getData(), buffer.getSize()), counting (1000));
    EXPECT_EQ (buffer.load (cut, cut.getTotalLength()), TransferBuffer::LoadResult::shortRead);
}

TEST (TransferBuffer, SizeThatCannotBeHadIsAnAnswerNotACrash)
{
    TrickleStream stream (counting (10), (juce::int64) 1 << 62);
    TransferBuffer buffer;

    EXPECT_FALSE (buffer.allocate ((size_t) 1 << 62));
    EXPECT_EQ (buffer.load (stream, stream.getTotalLength()), TransferBuffer::LoadResult::noMemory);
    EXPECT_EQ (buffer.getSize(), 0u);

    // An empty file is a size like any other.
    EXPECT_EQ (buffer.load (stream, 0), TransferBuffer::LoadResult::loaded);
    EXPECT_NE (buffer.getData(), nullptr);
}
