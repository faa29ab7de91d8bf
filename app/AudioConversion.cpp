#include "AudioConversion.h"

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

constexpr auto wavFormatName = "WAV file";

juce::File getPrivateTemporaryFolder()
{
    // The temporary directory is shared by every user of the machine: a folder per user keeps
    // two users' imports apart.
    return juce::File::getSpecialLocation (juce::File::tempDirectory)
               .getChildFile ("quendrix-" + juce::String ((juce::int64) ::geteuid()));
}

/** True when the folder is a real directory of this user's that no one else may enter. Anything
    else there (another user's folder, a symbolic link, looser permissions) is left alone, since
    whoever controls it could swap the file between our writing and the send.
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

    struct stat info {};

    if (::lstat (path.toRawUTF8(), &info) != 0)
        return false;

    return S_ISDIR (info.st_mode)
        && info.st_uid == ::geteuid()
        && (info.st_mode & 07777) == S_IRWXU;
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

bool writeConverted (std::unique_ptr<juce::AudioFormatReader> reader, const juce::File& destination,
                     double targetRate, int targetBits, int targetChannels)
{
    if (! isWritableTarget (targetRate, targetBits, targetChannels))
        return false;

    const auto ratio = reader->sampleRate / targetRate;
    const auto totalFrames = getOutputFrameCount (*reader, ratio);

    if (totalFrames < 0)
        return false;

    juce::AudioFormatReaderSource readerSource (reader.release(), true);
    juce::ResamplingAudioSource resampler (&readerSource, false, resamplerChannels);

    auto stream = std::make_unique<juce::FileOutputStream> (destination, outputBufferBytes);

    if (stream->failedToOpen() || stream->getPosition() != 0)
        return false;

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), targetRate,
                                                                          (unsigned int) targetChannels,
                                                                          targetBits, {}, 0));
    if (writer == nullptr)
        return false;

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

    return written && flushed && destination.getSize() >= endOfData;
}

bool fillTemporaryFile (const juce::File& input, const juce::File& temporaryFile,
                        double targetRate, int targetBits, int targetChannels)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();

    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (input));

    if (reader == nullptr)
        return false;

    // The reader must belong to the format that the extension names first.
    const auto* listedFormat = formats.findFormatForFileExtension (input.getFileExtension());

    if (listedFormat == nullptr || listedFormat->getFormatName() != reader->getFormatName())
        return false;

    if (isCopyableAsIs (*reader, targetRate, targetBits, targetChannels))
    {
        reader.reset();
        return copyWholeFile (input, temporaryFile);
    }

    return writeConverted (std::move (reader), temporaryFile, targetRate, targetBits, targetChannels);
}
} // namespace

juce::File getTemporaryWavFile()
{
    return getPrivateTemporaryFolder().getChildFile ("brevomatic_tmp.wav");
}

bool convertToDeviceWav (const juce::String& inputPath, double targetRate, int targetBits, int targetChannels)
{
    const juce::File input (inputPath);

    if (! input.existsAsFile())
        return false;

    const auto temporaryFile = getTemporaryWavFile();

    if (! preparePrivateFolder (temporaryFile.getParentDirectory()))
        return false;

    if (! temporaryFile.deleteFile())
        return false;

    if (temporaryFile.create().wasOk()
         && temporaryFile.existsAsFile()
         && fillTemporaryFile (input, temporaryFile, targetRate, targetBits, targetChannels))
        return true;

    // Nothing half-written is left for anyone to send.
    temporaryFile.deleteFile();
    return false;
}

juce::String buildSupportedWildcards()
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    return formats.getWildcardForAllFormats();
}
