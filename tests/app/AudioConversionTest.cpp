#include <gtest/gtest.h>

#include "AudioConversion.h"
#include "helpers/ProcessLimits.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

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

    static bool convert (const juce::File& file, double rate, int bits, int channels)
    {
        return convertToDeviceWav (file.getFullPathName(), rate, bits, channels);
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
    const auto source = makeSines (2, 88200, 44100.0);

    // The lossy coders add their delay and pad their last block.
    for (auto [name, bits, quality, lengthTolerance] : { std::tuple ("in.aif", 24, 0, 0.0), std::tuple ("in.flac", 16, 5, 0.0),
                                                         std::tuple ("in.ogg", 32, 6, 2048.0), std::tuple ("in.mp3", 16, 0, 4 * 1152.0) })
    {
        SCOPED_TRACE (name);
        auto file = scratch.getChildFile (name);

        if (file.hasFileExtension ("mp3"))
            ASSERT_EQ (std::system (("lame --quiet -b 192 " + write ("mp3.wav", 44100.0, bits, source).getFullPathName().quoted()
                                     + " " + file.getFullPathName().quoted()).toRawUTF8()), 0);
        else
            write (name, 44100.0, bits, source, quality);

        ASSERT_TRUE (convert (file, 48000.0, 16, 2));
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

    // Whoever else controls the folder could swap the file before it is sent. Giving it away needs root.
    const std::pair<const char*, std::function<void()>> unsafe[] = {
        { "a folder others can enter", [&] { ASSERT_TRUE (::mkdir (path.c_str(), 0700) == 0 && ::chmod (path.c_str(), 0755) == 0); } },
        { "a symbolic link", [&] { ASSERT_TRUE (::mkdir (elsewhere.getFullPathName().toRawUTF8(), 0700) == 0
                                                && elsewhere.createSymbolicLink (folder, false)); } },
        { "a plain file", [&] { ASSERT_TRUE (folder.replaceWithText ("not a folder") && ::chmod (path.c_str(), 0700) == 0); } },
        { "another user's folder", [&] { ASSERT_TRUE (::mkdir (path.c_str(), 0700) == 0 && ::chown (path.c_str(), 65534, 65534) == 0); } },
    };

    for (size_t i = 0; i < (::geteuid() == 0 ? 4u : 3u); ++i)
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
