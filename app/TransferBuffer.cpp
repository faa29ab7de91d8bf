#include "TransferBuffer.h"

using namespace juce;

bool TransferBuffer::allocate (size_t numBytes)
{
    release();

    // One byte at least: calloc (0) may answer null, which would read as a failure.
    data.calloc (jmax (numBytes, (size_t) 1));

    if (data == nullptr)
        return false;

    size = numBytes;
    return true;
}

TransferBuffer::LoadResult TransferBuffer::load (InputStream& stream, int64 numBytes)
{
    if (numBytes < 0)
        return LoadResult::shortRead;

    if (! allocate ((size_t) numBytes))
        return LoadResult::noMemory;

    // One read may deliver less than asked for; only a read that delivers nothing ends it early.
    size_t filled = 0;

    while (filled < size)
    {
        const auto wanted = (int) jmin (size - filled, (size_t) std::numeric_limits<int>::max());
        const auto got = stream.read (data + filled, wanted);

        if (got <= 0)
            return LoadResult::shortRead;

        filled += (size_t) got;
    }

    return LoadResult::loaded;
}

void TransferBuffer::release() noexcept
{
    data.free();
    size = 0;
}
