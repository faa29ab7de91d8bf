#include <gtest/gtest.h>

#include "AudioConversion.h"
#include "helpers/ProcessLimits.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

namespace
{
/** One sine per channel: 1000 Hz in the first, 500 Hz in the second, and so on. */
juce::AudioBuffer<float> makeSines (int channels, int frames, double rate)
{
    juce::AudioBuffer<float> buffer (channels, frames);

    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            buffer.setSample (c, i, 0.5f * (float) std::sin (juce::MathConstants<double>::twoPi * (1000.0 / (c + 1)) * i / rate));

    return buffer;
}

juce::MemoryBlock bytesOf (const juce::File& file)
{
    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    return bytes;
}

/** Overwrites a 32-bit field of a WAV file, counted from the start of the named chunk. */
void patchWav (const juce::File& file, const char* chunk, int offset, juce::uint32 value)
{
    auto bytes = bytesOf (file);
    const auto* begin = static_cast<const char*> (bytes.getData());
    bytes.copyFrom (&value, (int) (std::search (begin, begin + bytes.getSize(), chunk, chunk + 4) - begin) + offset, 4);
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
}

struct Decoded { double rate = 0; int bits = 0; juce::AudioBuffer<float> samples; };

Decoded readTemporaryWav()
{
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (getTemporaryWavFile().createInputStream().release(), true));

    if (reader == nullptr)
        return {};

    Decoded result { reader->sampleRate, (int) reader->bitsPerSample, { (int) reader->numChannels, (int) reader->lengthInSamples } };
    reader->read (&result.samples, 0, (int) reader->lengthInSamples, 0, true, true);
    return result;
}

/** Checks the pitch and level of makeSines in every channel, away from the resampler's and the codecs' edges. */
void expectSines (const Decoded& out, int channels)
{
    const auto frames = out.samples.getNumSamples(), margin = frames / 8;
    ASSERT_EQ (out.samples.getNumChannels(), channels);

    for (int c = 0; c < channels; ++c)
    {
        const auto* data = out.samples.getReadPointer (c);
        int signChanges = 0;

        for (int i = margin + 1; i < frames - margin; ++i)
            signChanges += (data[i - 1] < 0.0f) != (data[i] < 0.0f) ? 1 : 0;

        EXPECT_NEAR (signChanges / 2.0 * out.rate / (frames - 2 * margin - 1), 1000.0 / (c + 1), 5.0) << "channel " << c;
        EXPECT_NEAR (out.samples.getMagnitude (c, frames / 2, 2048), 0.5f, 0.05f) << "channel " << c;
    }
}

//==============================================================================
// Hostile files, built byte by byte.

using Bytes = std::vector<juce::uint8>;

void append (Bytes& bytes, std::initializer_list<Bytes> parts)
{
    for (auto& part : parts)
        bytes.insert (bytes.end(), part.begin(), part.end());
}

Bytes text (const char* chars) { return Bytes (chars, chars + std::strlen (chars)); }
Bytes zeros (size_t count, juce::uint8 value = 0) { return Bytes (count, value); }

Bytes le (juce::uint64 value, int size)
{
    Bytes bytes;
    for (int i = 0; i < size; ++i)
        bytes.push_back ((juce::uint8) (value >> (8 * i)));
    return bytes;
}

Bytes be (juce::uint64 value, int size)
{
    auto bytes = le (value, size);
    std::reverse (bytes.begin(), bytes.end());
    return bytes;
}

/** A WAV file of one fmt and one data chunk. dataLength: what the data chunk claims, if not its size. */
Bytes makeWav (int channels, int rate, int bits, const Bytes& data, int formatTag = 1, std::optional<juce::uint32> dataLength = {},
               const Bytes& formatExtra = {}, const Bytes& before = {})
{
    const auto align = (juce::uint32) (channels * bits / 8) & 0xffff;
    Bytes format;
    append (format, { le ((juce::uint32) formatTag, 2), le ((juce::uint32) channels & 0xffff, 2), le ((juce::uint32) rate, 4),
                      le ((juce::uint32) rate * align, 4), le (align, 2), le ((juce::uint32) bits, 2), formatExtra });
    Bytes body = text ("WAVE");
    append (body, { before, text ("fmt "), le (format.size(), 4), format,
                    text ("data"), le (dataLength.value_or ((juce::uint32) data.size()), 4), data });
    Bytes file = text ("RIFF");
    append (file, { le (body.size(), 4), body });
    return file;
}

/** The tail of a WAVE_FORMAT_EXTENSIBLE fmt chunk for PCM with this channel mask. */
Bytes extensiblePcm (juce::uint32 channelMask)
{
    Bytes extra;
    append (extra, { le (22, 2), le (16, 2), le (channelMask, 4), le (1, 4), le (0, 2), le (0x10, 2),
                     Bytes { 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 } });
    return extra;
}

/** An AIFF file at 44100 Hz: a COMM chunk, an SSND chunk unless data is absent, then extra. */
Bytes makeAiff (int channels, juce::uint32 frames, int bits, std::optional<Bytes> data, const Bytes& extra = {},
                std::optional<juce::uint32> soundLength = {})
{
    Bytes comm;
    append (comm, { be ((juce::uint32) channels & 0xffff, 2), be (frames, 4), be ((juce::uint32) bits, 2),
                    Bytes { 0x40, 0x0e, 0xac, 0x44, 0, 0, 0, 0, 0, 0 } });
    Bytes body = text ("AIFF");
    append (body, { text ("COMM"), be (comm.size(), 4), comm });

    if (data)
        append (body, { text ("SSND"), be (soundLength.value_or ((juce::uint32) (8 + data->size())), 4), zeros (8), *data });

    append (body, { extra });
    Bytes file = text ("FORM");
    append (file, { be (body.size(), 4), body });
    return file;
}

/** A FLAC file of nothing but a STREAMINFO block. */
Bytes makeFlacStreamInfo (juce::uint64 rate, juce::uint64 channels, juce::uint64 bits, juce::uint64 totalSamples)
{
    Bytes file = text ("fLaC");
    append (file, { Bytes { 0x80, 0, 0, 34 }, be (4096, 2), be (4096, 2), zeros (6),
                    be ((rate << 44) | ((channels - 1) << 41) | ((bits - 1) << 36) | totalSamples, 8), zeros (16) });
    return file;
}

/** Where the first frame of a FLAC file begins, past its metadata blocks. */
size_t firstFlacFrame (const Bytes& flac)
{
    size_t offset = 4;

    for (bool last = false; ! last && offset + 4 <= flac.size();)
    {
        last = (flac[offset] & 0x80) != 0;
        offset += 4 + (((size_t) flac[offset + 1] << 16) | ((size_t) flac[offset + 2] << 8) | flac[offset + 3]);
    }

    return offset;
}

juce::int64 readStatusKb (const char* field)
{
    return juce::File ("/proc/self/status").loadFileAsString().fromFirstOccurrenceOf (field, false, false)
               .fromFirstOccurrenceOf (":", false, false).getLargeIntValue();
}
} // namespace

class AudioConversionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previousTmpDir = juce::SystemStats::getEnvironmentVariable ("TMPDIR", {});

        // A folder of the test's own for its inputs and for the temporary directory it hands the program.
        auto pattern = (juce::File::getSpecialLocation (juce::File::tempDirectory).getFullPathName() + "/conversion-XXXXXX").toStdString();
        ASSERT_NE (::mkdtemp (pattern.data()), nullptr);
        scratch = juce::File (pattern);
        ASSERT_TRUE (scratch.getChildFile ("tmp").createDirectory().wasOk());
        ::setenv ("TMPDIR", scratch.getChildFile ("tmp").getFullPathName().toRawUTF8(), 1);
    }

    void TearDown() override
    {
        if (previousTmpDir.isEmpty())
            ::unsetenv ("TMPDIR");
        else
            ::setenv ("TMPDIR", previousTmpDir.toRawUTF8(), 1);

        scratch.deleteRecursively();
    }

    /** An input in the format its extension names. */
    juce::File write (const juce::String& name, double rate, int bits, const juce::AudioBuffer<float>& samples,
                      int quality = 0, const juce::StringPairArray& metadata = {}, int repeats = 1)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        const auto file = scratch.getChildFile (name);
        std::unique_ptr<juce::AudioFormatWriter> writer (formats.findFormatForFileExtension (file.getFileExtension())
            ->createWriterFor (new juce::FileOutputStream (file), rate, (unsigned int) samples.getNumChannels(), bits, metadata, quality));

        for (int i = 0; i < repeats; ++i)
            EXPECT_TRUE (writer != nullptr && writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples())) << name;

        return file;
    }

    /** Converts with a limit far above every test's output, unless one is given. */
    static bool convert (const juce::File& file, double rate, int bits, int channels, juce::int64 sizeLimit = 1 << 29)
    {
        return convertToDeviceWav (file.getFullPathName(), rate, bits, channels, sizeLimit).succeeded();
    }

    juce::File scratch;
    juce::String previousTmpDir;
};

TEST_F (AudioConversionTest, WavAlreadyInThePedalFormatIsCopiedByteForByte)
{
    // A conversion would drop the extra chunk. 32-bit float is copied for a 32-bit pedal.
    juce::StringPairArray metadata;
    metadata.set (juce::WavAudioFormat::bwavDescription, "take 3");

    for (auto [bits, channels] : { std::pair (16, 2), std::pair (32, 1) })
    {
        const auto file = write ("pedal" + juce::String (bits) + ".wav", 48000.0, bits, makeSines (channels, 5000, 48000.0), 0, metadata);
        ASSERT_TRUE (convert (file, 48000.0, bits, channels)) << bits;
        EXPECT_EQ (bytesOf (getTemporaryWavFile()), bytesOf (file)) << bits;
    }
}

TEST_F (AudioConversionTest, ResamplingTo48000KeepsTheLengthAndPitch)
{
    ASSERT_TRUE (convert (write ("sine.wav", 44100.0, 16, makeSines (1, 60000, 44100.0)), 48000.0, 16, 1));
    const auto out = readTemporaryWav();

    EXPECT_EQ (out.rate, 48000.0);
    EXPECT_EQ (out.samples.getNumSamples(), 65306);
    expectSines (out, 1);

    ASSERT_TRUE (convert (write ("empty.wav", 44100.0, 16, juce::AudioBuffer<float> (1, 0)), 48000.0, 16, 1));
    EXPECT_EQ (readTemporaryWav().rate, 48000.0);
    EXPECT_EQ (readTemporaryWav().samples.getNumSamples(), 0);
}

TEST_F (AudioConversionTest, MonoTakesTheFirstChannelOfTheSourceWithoutMixing)
{
    juce::AudioBuffer<float> levels (3, 3000);

    for (auto [channel, level] : { std::pair (0, 0.5f), std::pair (1, -0.25f), std::pair (2, 0.75f) })
        juce::FloatVectorOperations::fill (levels.getWritePointer (channel), level, 3000);

    // Same rate, other bits: converted, and the resampler passes the samples through unchanged.
    ASSERT_TRUE (convert (write ("levels.wav", 48000.0, 24, levels), 48000.0, 16, 1));
    const auto out = readTemporaryWav();
    ASSERT_EQ (out.samples.getNumChannels(), 1);
    ASSERT_EQ (out.samples.getNumSamples(), 3000);
    EXPECT_EQ (out.samples.findMinMax (0, 0, 3000), juce::Range<float> (0.5f, 0.5f));
}

TEST_F (AudioConversionTest, SamplesBeyondFullScaleAreClippedNeverWrapped)
{
    const float values[] = { 1.5f, -1.5f, 1.0f, -1.0f, 3.0f, -0.25f };
    juce::AudioBuffer<float> loud (1, 6);
    loud.copyFrom (0, 0, values, 6);
    const auto file = write ("loud.wav", 48000.0, 32, loud);

    for (int bits : { 8, 16, 24 })
    {
        SCOPED_TRACE (bits);
        ASSERT_TRUE (convert (file, 48000.0, bits, 1));
        const auto out = readTemporaryWav();
        ASSERT_EQ (out.bits, bits);
        ASSERT_EQ (out.samples.getNumSamples(), 6);
        const auto top = 1.0f - 1.0f / (float) (1 << (bits - 1));
        const auto* samples = out.samples.getReadPointer (0);
        EXPECT_EQ (std::vector<float> (samples, samples + 6), std::vector<float> ({ top, -1.0f, top, -1.0f, top, -0.25f }));
    }
}

TEST_F (AudioConversionTest, AiffFlacOggAndMp3AreDecodedToThePedalFormat)
{
    // The lossy coders add their delay and pad their last block. An AIFF or FLAC file already at
    // the pedal's rate, bits and channels is still converted: only a WAV file is sent as it is.
    for (auto [name, rate, bits, quality, lengthTolerance] : { std::tuple ("in.aif", 44100.0, 24, 0, 0.0),
                                                               std::tuple ("in.flac", 44100.0, 16, 5, 0.0),
                                                               std::tuple ("in.ogg", 44100.0, 32, 6, 2048.0),
                                                               std::tuple ("in.mp3", 44100.0, 16, 0, 4 * 1152.0),
                                                               std::tuple ("pedal.aif", 48000.0, 16, 0, 0.0),
                                                               std::tuple ("pedal.flac", 48000.0, 16, 5, 0.0) })
    {
        SCOPED_TRACE (name);
        auto file = scratch.getChildFile (name);
        const auto source = makeSines (2, (int) rate * 2, rate);

        if (file.hasFileExtension ("mp3"))
            ASSERT_EQ (std::system (("lame --quiet -b 192 " + write ("mp3.wav", rate, bits, source).getFullPathName().quoted()
                                     + " " + file.getFullPathName().quoted()).toRawUTF8()), 0);
        else
            write (name, rate, bits, source, quality);

        ASSERT_TRUE (convert (file, 48000.0, 16, 2));
        EXPECT_TRUE (getTemporaryWavFile().loadFileAsString().startsWith ("RIFF")) << "not a WAV file";
        const auto out = readTemporaryWav();
        EXPECT_EQ (out.rate, 48000.0);
        EXPECT_EQ (out.bits, 16);
        EXPECT_NEAR (out.samples.getNumSamples(), 96000.0, lengthTolerance);
        expectSines (out, 2);
    }
}

TEST_F (AudioConversionTest, UnusableInputsAreRefused)
{
    // No format reads FLAC data named ".wav"; a WAV header announcing Vorbis data hands the file to the Ogg reader.
    const auto flacData = scratch.getChildFile ("flac-data.wav");
    ASSERT_TRUE (write ("real.flac", 48000.0, 16, makeSines (1, 4000, 48000.0)).moveFileTo (flacData));
    const auto vorbis = write ("vorbis.wav", 48000.0, 16, juce::AudioBuffer<float> (1, 0));
    patchWav (vorbis, "fmt ", 8, 0x00016750);
    const auto ogg = bytesOf (write ("real.ogg", 48000.0, 32, makeSines (1, 4000, 48000.0), 4));
    ASSERT_TRUE (vorbis.appendData (ogg.getData(), ogg.getSize()));

    // 2^32 - 2 frames, more than a 32-bit count holds; and a rate at which the resampler would
    // read gigabytes per block.
    const auto huge = write ("huge.wav", 48000.0, 8, juce::AudioBuffer<float> (1, 100));
    patchWav (huge, "data", 4, 0xfffffffe);
    const auto fast = write ("fast.wav", 48000.0, 16, makeSines (1, 4000, 48000.0));
    patchWav (fast, "fmt ", 12, 2000000000);

    // The extension, in any case, must name the format that reads the file.
    const auto good = write ("GOOD.WAV", 44100.0, 16, makeSines (1, 4000, 44100.0));

    // A missing input or a directory leaves the temporary file as it was.
    ASSERT_TRUE (convert (good, 48000.0, 16, 1));
    const auto before = bytesOf (getTemporaryWavFile());
    EXPECT_FALSE (convert (scratch.getChildFile ("missing.wav"), 48000.0, 16, 1));
    EXPECT_FALSE (convert (scratch, 48000.0, 16, 1));
    EXPECT_EQ (bytesOf (getTemporaryWavFile()), before);

    // The rest are refused, and no temporary file is left to send.
    for (auto& file : { flacData, vorbis, huge, fast, getTemporaryWavFile() })
    {
        SCOPED_TRACE (file.getFileName());
        ASSERT_TRUE (convert (good, 48000.0, 16, 1));
        EXPECT_FALSE (convert (file, 48000.0, 16, 1));
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }
}

TEST_F (AudioConversionTest, TheSizeOfTheFileToSendIsKnownBeforeAnythingIsWritten)
{
    const auto path = [] (const juce::File& file) { return file.getFullPathName(); };

    // Resampled, and 8-bit mono of an odd length, which the writer pads by one byte.
    for (auto [file, rate, bits, channels] : { std::tuple (write ("sine.wav", 44100.0, 16, makeSines (1, 60000, 44100.0)), 48000.0, 24, 2),
                                               std::tuple (write ("odd.wav", 48000.0, 16, makeSines (1, 1001, 48000.0)), 48000.0, 8, 1) })
    {
        SCOPED_TRACE (file.getFileName());
        const auto refused = convertToDeviceWav (path (file), rate, bits, channels, 1000);
        ASSERT_EQ (refused.outcome, ConversionResult::tooLarge);
        EXPECT_FALSE (getTemporaryWavFile().exists());

        EXPECT_EQ (convertToDeviceWav (path (file), rate, bits, channels, refused.size - 1).outcome, ConversionResult::tooLarge);
        ASSERT_TRUE (convert (file, rate, bits, channels, refused.size));
        EXPECT_EQ (getTemporaryWavFile().getSize(), refused.size);
    }

    // A copy as it is has the input's size.
    const auto copyable = write ("copy.wav", 48000.0, 16, makeSines (2, 1000, 48000.0));
    const auto refused = convertToDeviceWav (path (copyable), 48000.0, 16, 2, copyable.getSize() - 1);
    EXPECT_EQ (refused.outcome, ConversionResult::tooLarge);
    EXPECT_EQ (refused.size, copyable.getSize());
    EXPECT_FALSE (getTemporaryWavFile().exists());
    EXPECT_TRUE (convert (copyable, 48000.0, 16, 2, copyable.getSize()));
}

TEST_F (AudioConversionTest, HostileFilesAreRefusedOrBoundedAndNeitherCrashNorHang)
{
    // The pedal of this test takes 44100 Hz, 16-bit stereo, up to 8 MiB.
    constexpr juce::int64 limit = 8 << 20;

    // Real files to break: 0.2 s of stereo as FLAC, and as VBR MP3, whose Xing header counts its frames.
    const auto sine = makeSines (2, 8820, 44100.0);
    const auto flacFile = write ("real.flac", 44100.0, 16, sine, 5);
    const auto mp3File = scratch.getChildFile ("real.mp3");
    ASSERT_EQ (std::system (("lame --quiet -V 4 " + write ("real.wav", 44100.0, 16, sine).getFullPathName().quoted()
                             + " " + mp3File.getFullPathName().quoted()).toRawUTF8()), 0);
    const auto loadBytes = [] (const juce::File& file) { const auto block = bytesOf (file); return Bytes (block.begin(), block.end()); };
    const auto flac = loadBytes (flacFile), mp3 = loadBytes (mp3File);

    const auto flacAt1Hz = [&]
    {
        auto bytes = flac;   // STREAMINFO's rate is the top 20 bits at offset 18
        bytes[18] = 0;
        bytes[19] = 0;
        bytes[20] = (juce::uint8) (0x10 | (bytes[20] & 0x0f));
        return bytes;
    };

    const auto flacClaimingEightChannels = [&]
    {
        auto bytes = flac;   // the frames carry 2; the first one is broken
        bytes[20] = (juce::uint8) ((bytes[20] & 0xf1) | (7 << 1));
        bytes[firstFlacFrame (bytes) + 100] ^= 0xff;
        return bytes;
    };

    const auto mp3ClaimingTwoBillionSamples = [&]
    {
        auto bytes = mp3;
        const auto tag = text ("Xing"), frames = be (1864135, 4);
        const auto xing = std::search (bytes.begin(), bytes.end(), tag.begin(), tag.end());

        if (bytes.end() - xing >= 12)
            std::copy (frames.begin(), frames.end(), xing + 8);

        return bytes;
    };

    // Found by a fuzzer: 59 bytes that are not 0 in 3753.
    const auto mp3RollingBackTooFar = []
    {
        Bytes bytes (3753);
        const std::pair<int, juce::uint8> set[] = {
            {0, 0xff}, {1, 0xfb}, {2, 0x64}, {4, 0x3f}, {5, 0x92}, {11, 0x82}, {18, 0x50}, {19, 0x85}, {36, 0x26}, {40, 0xc3},
            {41, 0xd6}, {42, 0xa0}, {43, 0x3d}, {48, 0xe8}, {49, 0x98}, {50, 0xb5}, {51, 0xce}, {54, 0x15}, {55, 0x46}, {59, 0xbb},
            {240, 0xff}, {241, 0xfb}, {242, 0x90}, {246, 0x98}, {247, 0x1f}, {252, 0x8a}, {1454, 0xa5}, {1455, 0xe2}, {1468, 0xa8},
            {1469, 0xdd}, {1471, 0xde}, {1553, 0x5f}, {1572, 0x1a}, {1573, 0xf3}, {1589, 0xe3}, {1590, 0x33}, {1591, 0xe4},
            {1601, 0xc6}, {1621, 0xfe}, {1622, 0x50}, {1623, 0xfe}, {1752, 0x01}, {1753, 0x46}, {1758, 0xf6}, {1759, 0xff},
            {1760, 0xe3}, {1761, 0x07}, {1763, 0x07}, {1768, 0xeb}, {1769, 0x04}, {1770, 0xe6}, {1791, 0xa3}, {2513, 0xfe},
            {2514, 0x33}, {2515, 0xff}, {3748, 0xff}, {3749, 0xfb}, {3750, 0x90}, {3752, 0xda} };

        for (auto [offset, value] : set)
            bytes[(size_t) offset] = value;

        return bytes;
    };

    // formatError: refused, before any sample is read where the header tells. sizeAlert: the file
    // to send would pass the limit, and nothing is written. converted: taken as what may be meant.
    enum class Expect { formatError, sizeAlert, converted };
    const auto hugeChunk = le (0xfffffff0, 4);

    struct Row { const char* name; std::function<std::optional<Bytes>()> bytes; Expect expect; };
    const Row rows[] = {
        // Gigabytes from a few bytes: the header's length is all there is.
        { "data-claims-4-GiB.wav",     [] { return makeWav (1, 44100, 16, {}, 1, 0xffffffff); },                 Expect::sizeAlert },
        { "1-Hz.wav",                  [] { return makeWav (1, 1, 16, {}, 1, 2 * 48695); },                      Expect::sizeAlert },
        { "comm-claims-2^31.aiff",     [] { return makeAiff (1, 0x7fffffff, 16, zeros (4096), {}, 0xffffffff); }, Expect::sizeAlert },
        { "streaminfo-claims-2^31.flac", [] { return makeFlacStreamInfo (44100, 2, 16, (1u << 31) - 1); },       Expect::sizeAlert },
        { "1-Hz.flac",                 flacAt1Hz,                                                                Expect::sizeAlert },
        { "xing-claims-2^31.mp3",      mp3ClaimingTwoBillionSamples,                                             Expect::sizeAlert },

        // Frames wider than the readers' buffer: 0 frames a pass, for ever.
        { "1441-channels.wav",         [] { return makeWav (1441, 44100, 32, zeros (1441 * 16)); },              Expect::formatError },
        { "65535-channels.wav",        [] { return makeWav (65535, 44100, 16, zeros (4096), 1, 0xffffffff); },   Expect::formatError },
        { "1441-channels.aiff",        [] { return makeAiff (1441, 4, 32, zeros (1441 * 16)); },                 Expect::formatError },

        // Bit depths the readers turn into silence, noise or a division by zero.
        { "0-bits-no-ssnd.aiff",       [] { return makeAiff (1, 1000, 0, std::nullopt); },                       Expect::formatError },
        { "7-bits-no-ssnd.aiff",       [] { return makeAiff (1, 1000, 7, std::nullopt); },                       Expect::formatError },
        { "12-bits.aiff",              [] { return makeAiff (1, 1000, 12, zeros (2000, 0x55)); },                Expect::formatError },
        { "7-bits.wav",                [] { return makeWav (1, 44100, 7, zeros (1000, 0x55)); },                 Expect::formatError },
        { "12-bits.wav",               [] { return makeWav (1, 44100, 12, zeros (2000, 0x55)); },                Expect::formatError },
        { "20-bits.wav",               [] { return makeWav (1, 44100, 20, zeros (3000, 0x55)); },                Expect::formatError },
        { "8-bit-float.wav",           [] { return makeWav (1, 44100, 8, zeros (1000, 0x55), 3); },              Expect::formatError },
        { "16-bit-float.wav",          [] { return makeWav (1, 44100, 16, zeros (2000, 0x55), 3); },             Expect::formatError },
        { "24-bit-float.wav",          [] { return makeWav (1, 44100, 24, zeros (3000, 0x55), 3); },             Expect::formatError },
        { "64-bit-float.wav",          [] { return makeWav (1, 44100, 64, zeros (8000, 0x55), 3); },             Expect::formatError },

        // Not a regular file: a FIFO blocks in open for ever.
        { "fifo.wav",                  [] { return std::nullopt; },                                              Expect::formatError },

        // Faults inside the framework's decoders (mended by cmake/juce-patches).
        { "bext-claims-4-GiB.wav",     [=] { return makeWav (1, 44100, 16, zeros (4096), 1, {}, {}, [&] { Bytes b = text ("bext"); append (b, { hugeChunk, zeros (64, 1) }); return b; }()); }, Expect::formatError },
        { "inst-claims-4-GiB.aiff",    [=] { Bytes inst = text ("INST"); append (inst, { be (0xfffffff0, 4), zeros (20, 1) }); return makeAiff (1, 2048, 16, zeros (4096), inst); }, Expect::converted },
        { "channel-mask-bit-31.wav",   [] { return makeWav (1, 44100, 16, zeros (4096), 0xfffe, {}, extensiblePcm (0x80000000)); }, Expect::converted },
        { "200-channels-mask-0.wav",   [] { return makeWav (200, 44100, 16, zeros (4000), 0xfffe, {}, extensiblePcm (0)); }, Expect::converted },
        { "8-channels-in-2.flac",      flacClaimingEightChannels,                                                Expect::converted },
        { "istereo-past-the-band.mp3", [] { return Bytes { 0xff, 0xfb, 0xe6, 0x5d, 0, 0, 0x60, 0x70, 0, 0xaf, 0x33, 0x98, 0x4f, 0x4f }; }, Expect::formatError },
        { "rolls-back-too-far.mp3",    mp3RollingBackTooFar,                                                     Expect::converted },
    };

    for (auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        const auto file = scratch.getChildFile (row.name);

        if (const auto bytes = row.bytes())
            ASSERT_TRUE (file.replaceWithData (bytes->data(), bytes->size()));
        else
            ASSERT_EQ (::mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0);

        ConversionResult result;

        {
            // Nothing big may be written, nor allocated (the metadata chunks ask for 4 GiB).
            const auto fileSize = ScopedProcessLimit::fileSize (limit + (1 << 20));
            const auto memory = ScopedProcessLimit::addressSpace (256u << 20);
            result = convertToDeviceWav (file.getFullPathName(), 44100.0, 16, 2, limit);
        }

        switch (row.expect)
        {
            case Expect::formatError:
                EXPECT_EQ (result.outcome, ConversionResult::refused);
                break;

            case Expect::sizeAlert:
                EXPECT_EQ (result.outcome, ConversionResult::tooLarge);
                EXPECT_GT (result.size, limit);
                break;

            case Expect::converted:
                EXPECT_EQ (result.outcome, ConversionResult::converted);
                break;
        }

        EXPECT_EQ (getTemporaryWavFile().exists(), result.succeeded());
        EXPECT_LE (getTemporaryWavFile().getSize(), limit);
        getTemporaryWavFile().deleteFile();
    }
}

TEST_F (AudioConversionTest, TargetsTheWavWriterCannotProduceAreRefused)
{
    const auto file = write ("a.wav", 44100.0, 16, makeSines (1, 4000, 44100.0));

    for (auto [rate, bits, channels] : { std::tuple (48000.0, 40, 1), std::tuple (48000.0, 64, 1), std::tuple (48000.0, 12, 1),
                                         std::tuple (48000.0, 16, 0), std::tuple (48000.0, 16, 129), std::tuple (0.0, 16, 1) })
    {
        EXPECT_FALSE (convert (file, rate, bits, channels)) << rate << " Hz, " << bits << " bits, " << channels << " channels";
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }

    // The writer's largest channel count still works.
    ASSERT_TRUE (convert (file, 48000.0, 16, 128));
    EXPECT_EQ (readTemporaryWav().samples.getNumChannels(), 128);
}

TEST_F (AudioConversionTest, WriteFailuresAreReportedAndNothingIsLeftBehind)
{
    const auto copyable = write ("copy.wav", 48000.0, 16, makeSines (2, 48000, 48000.0));
    const auto convertible = write ("convert.wav", 44100.0, 16, makeSines (2, 48000, 44100.0));

    {
        // Writes past a file size limit fail as on a full disk.
        const auto limit = ScopedProcessLimit::fileSize (65536);

        for (auto& file : { copyable, convertible })
        {
            EXPECT_FALSE (convert (file, 48000.0, 16, 2)) << file.getFileName();
            EXPECT_FALSE (getTemporaryWavFile().exists());
        }
    }

    // A directory in the file's place cannot be removed, and is not removed with what it holds.
    ASSERT_TRUE (getTemporaryWavFile().getChildFile ("keep").create().wasOk());
    EXPECT_FALSE (convert (convertible, 48000.0, 16, 2));
    EXPECT_TRUE (getTemporaryWavFile().getChildFile ("keep").existsAsFile());
}

TEST_F (AudioConversionTest, TemporaryFileLiesInAFolderOnlyItsUserCanEnter)
{
    const auto file = write ("a.wav", 44100.0, 16, makeSines (1, 4000, 44100.0));
    const auto folder = scratch.getChildFile ("tmp").getChildFile ("quendrix-" + juce::String ((int) ::geteuid()));
    const auto path = folder.getFullPathName().toStdString();
    const auto elsewhere = scratch.getChildFile ("elsewhere");

    ASSERT_TRUE (convert (file, 48000.0, 16, 1));
    EXPECT_TRUE (folder.getChildFile ("brevomatic_tmp.wav").existsAsFile());

    // A folder of this user's with looser permissions is set back to 0700, and used.
    for (const mode_t mode : { 0755, 02755, 0777, 0500 })
    {
        SCOPED_TRACE (mode);
        ASSERT_TRUE (folder.deleteRecursively());
        ASSERT_TRUE (::mkdir (path.c_str(), 0700) == 0 && ::chmod (path.c_str(), mode) == 0);
        EXPECT_TRUE (convert (file, 48000.0, 16, 1));
        struct stat info {};
        ASSERT_EQ (::lstat (path.c_str(), &info), 0);
        EXPECT_EQ (info.st_mode & 07777, (mode_t) 0700);
        EXPECT_TRUE (folder.getChildFile ("brevomatic_tmp.wav").existsAsFile());
    }

    // Whoever else controls the folder could swap the file before it is sent. Giving it away needs root.
    const std::pair<const char*, std::function<void()>> unsafe[] = {
        { "a symbolic link", [&] { ASSERT_TRUE (::mkdir (elsewhere.getFullPathName().toRawUTF8(), 0700) == 0
                                                && elsewhere.createSymbolicLink (folder, false)); } },
        { "a plain file", [&] { ASSERT_TRUE (folder.replaceWithText ("not a folder") && ::chmod (path.c_str(), 0700) == 0); } },
        { "another user's folder", [&] { ASSERT_TRUE (::mkdir (path.c_str(), 0700) == 0 && ::chown (path.c_str(), 65534, 65534) == 0); } },
    };

    for (size_t i = 0; i < (::geteuid() == 0 ? 3u : 2u); ++i)
    {
        SCOPED_TRACE (unsafe[i].first);
        ASSERT_TRUE (folder.deleteRecursively());
        unsafe[i].second();
        EXPECT_FALSE (convert (file, 48000.0, 16, 1));
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }

    EXPECT_FALSE (elsewhere.getChildFile ("brevomatic_tmp.wav").exists());
}

TEST_F (AudioConversionTest, MemoryDoesNotGrowWithTheLengthOfTheInput)
{
   #ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer's quarantine keeps every freed block";
   #endif

    // 90 s of 16-bit stereo: 16 MB on disk, 35 MB once decoded at the pedal's rate.
    const auto file = write ("long.wav", 44100.0, 16, makeSines (2, 44100, 44100.0), 0, {}, 90);

    // Resets the peak resident size to the current one.
    ASSERT_TRUE (std::ofstream ("/proc/self/clear_refs") << "5" << std::flush);
    const auto before = readStatusKb ("VmRSS");
    ASSERT_TRUE (convert (file, 48000.0, 16, 2));
    EXPECT_LT (readStatusKb ("VmHWM") - before, 4096) << "peak growth in kB";
    EXPECT_EQ (readTemporaryWav().samples.getNumSamples(), 90 * 48000);
}

TEST (AudioConversion, PatternListHoldsEachRegisteredExtensionOnce)
{
    EXPECT_EQ (buildSupportedWildcards(), "*.wav;*.bwf;*.aiff;*.aif;*.flac;*.ogg;*.mp3");
}
