#include "AudioConversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>

namespace
{
constexpr int blockSize = 2048;
constexpr size_t outputBufferBytes = 16384;
constexpr int resamplerChannels = 2;

// Past 8 channels the WAV writer's layout numbers its channels upwards from the framework's
// first discrete channel type (128), and the channel type enumeration ends at 255.
constexpr int maxWriterChannels = 128;

// The resampler reads about blockSize x ratio source samples per block into a buffer of its
// own; past this ratio that buffer stops being one small block (and at 2^31 its size overflows).
constexpr double maxResamplingRatio = 256.0;

// The framework's WAV and AIFF readers read through a buffer of this many bytes; a frame wider
// than it gives 0 frames per pass, for ever.
constexpr juce::int64 pcmReadBufferBytes = 480 * 3 * 4;

constexpr auto wavFormatName = "WAV file";
constexpr auto aiffFormatName = "AIFF file";

juce::File getPrivateTemporaryFolder()
{
    // The temporary directory is shared by every user of the machine: a folder per user keeps
    // two users' imports apart.
    return juce::File::getSpecialLocation (juce::File::tempDirectory)
               .getChildFile ("quendrix-" + juce::String ((juce::int64) ::geteuid()));
}

/** True when the folder is a real directory of this user's that no one else may enter. A folder
    of this user's with looser permissions (0755, setgid) is set back to 0700 first. Anything else
    there (another user's folder, a symbolic link, a file) is left alone, since whoever controls it
    could swap the file between our writing and the send.
*/
bool preparePrivateFolder (const juce::File& folder)
{
    const auto parent = folder.getParentDirectory();

    if (! parent.isDirectory() && parent.createDirectory().failed())
        return false;

    const auto path = folder.getFullPathName();

    if (::mkdir (path.toRawUTF8(), S_IRWXU) == 0)
    {
        // The umask may have taken some of the owner's bits.
        if (::chmod (path.toRawUTF8(), S_IRWXU) != 0)
            return false;
    }
    else if (errno != EEXIST)
    {
        return false;
    }

    // Opened without following a symbolic link, so that the folder checked is the folder mended.
    const auto fd = ::open (path.toRawUTF8(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);

    if (fd < 0)
        return false;

    struct stat info {};
    auto ok = ::fstat (fd, &info) == 0 && S_ISDIR (info.st_mode) && info.st_uid == ::geteuid();

    if (ok && (info.st_mode & 07777) != S_IRWXU)
        ok = ::fchmod (fd, S_IRWXU) == 0 && ::fstat (fd, &info) == 0 && (info.st_mode & 07777) == S_IRWXU;

    ::close (fd);
    return ok;
}

/** Only a regular file can be read without blocking (a FIFO blocks in open for ever). */
bool isRegularFile (const juce::File& input)
{
    struct stat info {};
    return ::stat (input.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
}

/** False for what the framework's WAV and AIFF readers would not read faithfully, told by the
    header alone: no channels; integer samples of other than 8, 16, 24 or 32 bits or floating
    point ones of other than 32 bits (the readers give silence or full-scale noise for them, and
    divide by zero for a frame of 0 bytes); frames wider than their read buffer (they would read
    0 frames per pass, for ever). The other formats' decoders give true samples at any depth.
*/
bool isFaithfullyReadable (const juce::AudioFormatReader& reader)
{
    if (reader.numChannels < 1)
        return false;

    const auto format = reader.getFormatName();

    if (format != wavFormatName && format != aiffFormatName)
        return true;

    const auto bits = reader.bitsPerSample;
    const auto knownDepth = reader.usesFloatingPointData ? bits == 32
                                                         : (bits == 8 || bits == 16 || bits == 24 || bits == 32);

    return knownDepth && (juce::int64) reader.numChannels * (bits / 8) <= pcmReadBufferBytes;
}

bool isCopyableAsIs (const juce::AudioFormatReader& reader, double targetRate, int targetBits, int targetChannels)
{
    return reader.getFormatName() == wavFormatName
        && reader.sampleRate == targetRate
        && (int) reader.numChannels == targetChannels
        && (int) reader.bitsPerSample == targetBits;
}

bool copyWholeFile (const juce::File& input, const juce::File& destination)
{
    // The framework's copy reports success even when a write fails (disk full), leaving a short
    // file: the size tells.
    const auto expectedSize = input.getSize();
    return input.copyFileTo (destination) && destination.getSize() == expectedSize;
}

/** The frame count to write, or -1 when the source and target give none that the writer and
    the resampler can serve.
*/
int getOutputFrameCount (const juce::AudioFormatReader& reader, double ratio)
{
    if (! (ratio > 0.0 && ratio <= maxResamplingRatio) || reader.lengthInSamples < 0)
        return -1;

    const auto frames = std::trunc ((double) reader.lengthInSamples / ratio);

    if (frames > (double) std::numeric_limits<int>::max())
        return -1;

    return (int) frames;
}

bool isWritableTarget (double targetRate, int targetBits, int targetChannels)
{
    if (targetChannels < 1 || targetChannels > maxWriterChannels || targetBits < 8)
        return false;

    // The header holds the rate and the byte rate as 32-bit integers.
    const auto maxHeaderValue = (double) std::numeric_limits<int>::max();
    const auto bytesPerFrame = (double) targetChannels * (targetBits / 8);

    return std::isfinite (targetRate)
        && targetRate >= 1.0
        && targetRate * bytesPerFrame <= maxHeaderValue;
}

/** The size of the file that the WAV writer makes of this many frames, or -1 when it refuses the
    target. Its header has one size whatever the length (it is padded for RF64), so it is measured
    on a writer that writes into memory.
*/
juce::int64 getWavFileSize (double rate, int bits, int channels, int frames)
{
    juce::MemoryBlock header;
    auto stream = std::make_unique<juce::MemoryOutputStream> (header, false);

    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate, (unsigned int) channels,
                                                                              bits, {}, 0));
        if (writer == nullptr)
            return -1;

        stream.release();
    }

    const auto dataBytes = (juce::int64) frames * channels * (bits / 8);
    return (juce::int64) header.getSize() + dataBytes + (dataBytes & 1);
}

ConversionResult tooLarge (juce::int64 size)
{
    return { ConversionResult::tooLarge, size };
}

ConversionResult writeConverted (std::unique_ptr<juce::AudioFormatReader> reader, const juce::File& destination,
                                 double targetRate, int targetBits, int targetChannels, juce::int64 sizeLimit)
{
    if (! isWritableTarget (targetRate, targetBits, targetChannels))
        return {};

    const auto ratio = reader->sampleRate / targetRate;
    const auto totalFrames = getOutputFrameCount (*reader, ratio);

    if (totalFrames < 0)
        return {};

    // Known before anything is read or written: a header may claim any length.
    const auto size = getWavFileSize (targetRate, targetBits, targetChannels, totalFrames);

    if (size < 0)
        return {};

    if (size > sizeLimit)
        return tooLarge (size);

    juce::AudioFormatReaderSource readerSource (reader.release(), true);
    juce::ResamplingAudioSource resampler (&readerSource, false, resamplerChannels);

    auto stream = std::make_unique<juce::FileOutputStream> (destination, outputBufferBytes);

    if (stream->failedToOpen() || stream->getPosition() != 0)
        return {};

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), targetRate,
                                                                          (unsigned int) targetChannels,
                                                                          targetBits, {}, 0));
    if (writer == nullptr)
        return {};

    auto* fileStream = stream.release();

    resampler.setResamplingRatio (ratio);
    resampler.prepareToPlay (blockSize, targetRate);

    const auto written = writer->writeFromAudioSource (resampler, totalFrames, blockSize);
    const auto flushed = writer->flush() && fileStream->getStatus().wasOk();

    // Deleting the writer writes the header once more and closes the stream; a failure there
    // shows only in the file's size.
    const auto endOfData = fileStream->getPosition();
    writer.reset();
    resampler.releaseResources();

    if (written && flushed && destination.getSize() >= endOfData)
        return { ConversionResult::converted };

    return {};
}

ConversionResult fillTemporaryFile (const juce::File& input, const juce::File& temporaryFile,
                                    double targetRate, int targetBits, int targetChannels, juce::int64 sizeLimit)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();

    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (input));

    if (reader == nullptr)
        return {};

    // The reader must belong to the format that the extension names first.
    const auto* listedFormat = formats.findFormatForFileExtension (input.getFileExtension());

    if (listedFormat == nullptr || listedFormat->getFormatName() != reader->getFormatName())
        return {};

    if (! isFaithfullyReadable (*reader))
        return {};

    if (isCopyableAsIs (*reader, targetRate, targetBits, targetChannels))
    {
        reader.reset();
        const auto size = input.getSize();

        if (size > sizeLimit)
            return tooLarge (size);

        if (copyWholeFile (input, temporaryFile))
            return { ConversionResult::converted };

        return {};
    }

    return writeConverted (std::move (reader), temporaryFile, targetRate, targetBits, targetChannels, sizeLimit);
}
} // namespace

juce::File getTemporaryWavFile()
{
    return getPrivateTemporaryFolder().getChildFile ("brevomatic_tmp.wav");
}

ConversionResult convertToDeviceWav (const juce::String& inputPath, double targetRate, int targetBits, int targetChannels,
                                     juce::int64 sizeLimit)
{
    const juce::File input (inputPath);

    if (! isRegularFile (input))
        return {};

    const auto temporaryFile = getTemporaryWavFile();

    if (! preparePrivateFolder (temporaryFile.getParentDirectory()))
        return {};

    if (! temporaryFile.deleteFile())
        return {};

    ConversionResult result;

    if (temporaryFile.create().wasOk() && temporaryFile.existsAsFile())
        result = fillTemporaryFile (input, temporaryFile, targetRate, targetBits, targetChannels, sizeLimit);

    // Nothing half-written is left for anyone to send.
    if (! result.succeeded())
        temporaryFile.deleteFile();

    return result;
}

juce::String buildSupportedWildcards()
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    return formats.getWildcardForAllFormats();
}
