#pragma once

#include <juce_core/juce_core.h>

/** The whole of one phrase or one file in memory, as a transfer holds it between the pedal and
    the disk. Its size comes from the pedal or from a file, never from us, so the memory is asked
    for without throwing and a size that cannot be had is an answer, not a crash.
*/
class TransferBuffer
{
public:
    TransferBuffer() = default;

    /** Zeroed, so that bytes which never arrive read as silence rather than as old memory. */
    bool allocate (size_t numBytes);

    enum class LoadResult
    {
        loaded,
        noMemory,
        shortRead   // the stream ended or failed before numBytes had been read
    };

    /** Reads exactly numBytes from the stream's current position. */
    LoadResult load (juce::InputStream& stream, juce::int64 numBytes);

    juce::uint8* getData() noexcept             { return data.get(); }
    size_t getSize() const noexcept             { return size; }

    void release() noexcept;

private:
    juce::HeapBlock<juce::uint8> data;
    size_t size = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TransferBuffer)
};
