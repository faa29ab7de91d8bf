#include <gtest/gtest.h>

#include "AudioConversion.h"
#include "helpers/ProcessLimits.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#if defined (__SANITIZE_ADDRESS__)
 #define QUENDRIX_TEST_SANITIZED 1
#elif defined (__has_feature)
 #if __has_feature (address_sanitizer)
  #define QUENDRIX_TEST_SANITIZED 1
 #endif
#endif

namespace
{
/** A signal of one sine per channel: 1000 Hz in the first, 500 Hz in the second, and so on. */
juce::AudioBuffer<float> makeSines (int channels, int frames, double rate, float amplitude = 0.5f)
{
    juce::AudioBuffer<float> buffer (channels, frames);

    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            buffer.setSample (c, i, amplitude * (float) std::sin (juce::MathConstants<double>::twoPi * (1000.0 / (c + 1)) * i / rate));

    return buffer;
}

juce::AudioBuffer<float> makeConstant (std::initializer_list<float> channelValues, int frames)
{
    juce::AudioBuffer<float> buffer ((int) channelValues.size(), frames);
    int c = 0;

    for (auto value : channelValues)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c++), value, frames);

    return buffer;
}

void writeAudioFile (juce::AudioFormat& format, const juce::File& file, double rate, int bits,
                     const juce::AudioBuffer<float>& samples, int quality = 0)
{
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    ASSERT_TRUE (stream->openedOk());

    std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), rate,
                                                                             (unsigned int) samples.getNumChannels(),
                                                                             bits, {}, quality));
    ASSERT_NE (writer, nullptr);
    stream.release();
    ASSERT_TRUE (writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples()));
}

/** A WAV file built byte by byte, for headers the framework's writer would not produce. */
juce::MemoryBlock makeRawWav (int formatTag, int channels, juce::uint32 rate, int bits,
                              const juce::MemoryBlock& data, bool withExtraChunks = false,
                              juce::uint32 declaredDataSize = 0)
{
    juce::MemoryOutputStream out;
    auto tag = [&out] (const char* name) { out.write (name, 4); };

    tag ("RIFF");
    out.writeInt (0);
    tag ("WAVE");
    tag ("fmt ");
    out.writeInt (16);
    out.writeShort ((short) formatTag);
    out.writeShort ((short) channels);
    out.writeInt ((int) rate);
    out.writeInt ((int) (rate * (juce::uint32) (channels * bits / 8)));
    out.writeShort ((short) (channels * bits / 8));
    out.writeShort ((short) bits);

    if (withExtraChunks)
    {
        tag ("note");
        out.writeInt (5);
        out.write ("hello", 5);
        out.writeByte (0);
    }

    tag ("data");
    out.writeInt ((int) (declaredDataSize != 0 ? declaredDataSize : (juce::uint32) data.getSize()));
    out << data;

    if ((data.getSize() & 1) != 0)
        out.writeByte (0);

    if (withExtraChunks)
    {
        tag ("LIST");
        out.writeInt (4);
        tag ("INFO");
    }

    juce::MemoryBlock bytes (out.getData(), out.getDataSize());
    const auto riffSize = (juce::uint32) bytes.getSize() - 8;
    bytes.copyFrom (&riffSize, 4, 4);
    return bytes;
}

struct Decoded
{
    double rate = 0;
    int bits = 0;
    juce::int64 length = -1;
    juce::AudioBuffer<float> samples;
};

Decoded readWav (const juce::File& file)
{
    Decoded result;
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));

    if (reader == nullptr)
        return result;

    result.rate = reader->sampleRate;
    result.bits = (int) reader->bitsPerSample;
    result.length = reader->lengthInSamples;
    result.samples.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&result.samples, 0, (int) reader->lengthInSamples, 0, true, true);
    return result;
}

/** Frequency from the sign changes, away from the resampler's and the codecs' edges. */
double estimateFrequency (const juce::AudioBuffer<float>& samples, int channel, double rate)
{
    const int margin = samples.getNumSamples() / 8;
    const int end = samples.getNumSamples() - margin;
    const auto* data = samples.getReadPointer (channel);
    int crossings = 0;

    for (int i = margin + 1; i < end; ++i)
        if ((data[i - 1] < 0.0f) != (data[i] < 0.0f))
            ++crossings;

    return crossings / 2.0 / ((end - margin - 1) / rate);
}

/** Checks a converted file that holds the signal of makeSines in every channel. */
void expectSines (const Decoded& out, int channels, double rate)
{
    ASSERT_EQ (out.samples.getNumChannels(), channels);
    ASSERT_GT (out.length, 4096);

    const auto middle = out.samples.getNumSamples() / 2;

    for (int c = 0; c < channels; ++c)
    {
        SCOPED_TRACE ("channel " + std::to_string (c));
        EXPECT_NEAR (estimateFrequency (out.samples, c, rate), 1000.0 / (c + 1), 5.0);
        EXPECT_NEAR (out.samples.getMagnitude (c, middle, 2048), 0.5f, 0.05f);
    }
}

juce::String readStatusField (const char* name)
{
    for (auto& line : juce::StringArray::fromLines (juce::File ("/proc/self/status").loadFileAsString()))
        if (line.startsWith (name))
            return line.fromFirstOccurrenceOf (":", false, false).trim();

    return {};
}

} // namespace

class AudioConversionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const auto* previous = std::getenv ("TMPDIR"))
            previousTmpDir = previous;

        // mkdtemp, unlike a name that merely does not exist yet, cannot hand two parallel
        // tests the same folder.
        auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                           .getChildFile ("conversion-test-XXXXXX").getFullPathName().toStdString();
        ASSERT_NE (::mkdtemp (pattern.data()), nullptr);
        scratch = juce::File (pattern);
        ASSERT_TRUE (scratch.getChildFile ("in").createDirectory().wasOk());
        ASSERT_TRUE (temporaryDirectory().createDirectory().wasOk());

        // Every test gets its own temporary directory, so parallel runs never share the file.
        ::setenv ("TMPDIR", temporaryDirectory().getFullPathName().toRawUTF8(), 1);
    }

    void TearDown() override
    {
        if (previousTmpDir.has_value())
            ::setenv ("TMPDIR", previousTmpDir->c_str(), 1);
        else
            ::unsetenv ("TMPDIR");

        scratch.deleteRecursively();
    }

    juce::File temporaryDirectory() const           { return scratch.getChildFile ("tmp"); }
    juce::File privateFolder() const                { return temporaryDirectory().getChildFile ("quendrix-" + juce::String ((int) ::geteuid())); }
    juce::File input (const juce::String& name) const   { return scratch.getChildFile ("in").getChildFile (name); }

    juce::File writeWav (const juce::String& name, double rate, int bits, const juce::AudioBuffer<float>& samples)
    {
        juce::WavAudioFormat wav;
        auto file = input (name);
        writeAudioFile (wav, file, rate, bits, samples);
        return file;
    }

    juce::File writeBytes (const juce::String& name, const juce::MemoryBlock& bytes)
    {
        auto file = input (name);
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        return file;
    }

    static bool convert (const juce::File& file, double rate, int bits, int channels)
    {
        return convertToDeviceWav (file.getFullPathName(), rate, bits, channels);
    }

    static juce::MemoryBlock temporaryBytes()
    {
        juce::MemoryBlock bytes;
        getTemporaryWavFile().loadFileAsData (bytes);
        return bytes;
    }

    juce::File scratch;
    std::optional<std::string> previousTmpDir;
};

//==============================================================================
TEST_F (AudioConversionTest, WavInPedalFormatIsCopiedByteForByteWithItsExtraChunks)
{
    juce::MemoryBlock samples (3000, true);
    samples[1] = 0x40;
    samples[2999] = 0x7f;
    const auto wav = makeRawWav (1, 2, 48000, 16, samples, true);
    const auto file = writeBytes ("pedal.wav", wav);

    ASSERT_TRUE (convert (file, 48000.0, 16, 2));
    EXPECT_EQ (temporaryBytes(), wav);

    // The sample type is not part of the test: 32-bit float is copied for a 32-bit pedal.
    const auto floatFile = writeWav ("float.wav", 48000.0, 32, makeSines (1, 5000, 48000.0));
    juce::MemoryBlock floatBytes;
    floatFile.loadFileAsData (floatBytes);

    ASSERT_TRUE (convert (floatFile, 48000.0, 32, 1));
    EXPECT_EQ (temporaryBytes(), floatBytes);
}

TEST_F (AudioConversionTest, OneChannelAt44100IsResampledToTheLengthAndPitchAt48000)
{
    const auto file = writeWav ("sine.wav", 44100.0, 16, makeSines (1, 60000, 44100.0));

    ASSERT_TRUE (convert (file, 48000.0, 16, 1));
    const auto out = readWav (getTemporaryWavFile());

    EXPECT_EQ (out.rate, 48000.0);
    EXPECT_EQ (out.bits, 16);
    EXPECT_EQ (out.length, 65306);
    expectSines (out, 1, 48000.0);
}

TEST_F (AudioConversionTest, ChannelsAreTakenFromTheFirstTwoOfTheSourceWithoutMixing)
{
    // Same rate, other bits: converted, and the resampler passes samples through unchanged.
    const auto stereo = writeWav ("stereo.wav", 48000.0, 24, makeConstant ({ 0.5f, -0.25f, 0.75f }, 3000));

    ASSERT_TRUE (convert (stereo, 48000.0, 16, 1));
    auto out = readWav (getTemporaryWavFile());
    ASSERT_EQ (out.samples.getNumChannels(), 1);
    ASSERT_EQ (out.length, 3000);
    EXPECT_EQ (out.samples.findMinMax (0, 0, 3000), juce::Range<float> (0.5f, 0.5f));

    const auto mono = writeWav ("mono.wav", 48000.0, 16, makeConstant ({ 0.5f }, 3000));

    ASSERT_TRUE (convert (mono, 48000.0, 24, 3));
    out = readWav (getTemporaryWavFile());
    ASSERT_EQ (out.samples.getNumChannels(), 3);
    EXPECT_EQ (out.samples.findMinMax (0, 0, 3000), juce::Range<float> (0.5f, 0.5f));
    EXPECT_EQ (out.samples.findMinMax (1, 0, 3000), juce::Range<float> (0.5f, 0.5f));
    EXPECT_EQ (out.samples.getMagnitude (2, 0, 3000), 0.0f);
}

TEST_F (AudioConversionTest, SamplesBeyondFullScaleAreClippedNeverWrapped)
{
    juce::AudioBuffer<float> loud (1, 6);
    const float values[] = { 1.5f, -1.5f, 1.0f, -1.0f, 3.0f, -0.25f };
    loud.copyFrom (0, 0, values, 6);
    const auto file = writeWav ("loud.wav", 48000.0, 32, loud);

    for (int bits : { 8, 16, 24 })
    {
        SCOPED_TRACE ("bits " + std::to_string (bits));
        ASSERT_TRUE (convert (file, 48000.0, bits, 1));
        const auto out = readWav (getTemporaryWavFile());
        ASSERT_EQ (out.bits, bits);
        ASSERT_EQ (out.length, 6);

        const auto* s = out.samples.getReadPointer (0);
        const auto largest = 1.0f - 1.0f / (float) (1 << (bits - 1));
        EXPECT_FLOAT_EQ (s[0], largest);
        EXPECT_FLOAT_EQ (s[1], -1.0f);
        EXPECT_FLOAT_EQ (s[2], largest);
        EXPECT_FLOAT_EQ (s[3], -1.0f);
        EXPECT_FLOAT_EQ (s[4], largest);
        EXPECT_NEAR (s[5], -0.25f, 0.01f);
    }
}

TEST_F (AudioConversionTest, EmptySourceGivesAHeaderAndNoFrames)
{
    const auto file = writeWav ("empty.wav", 44100.0, 16, juce::AudioBuffer<float> (1, 0));

    ASSERT_TRUE (convert (file, 48000.0, 16, 1));
    const auto out = readWav (getTemporaryWavFile());

    EXPECT_EQ (out.rate, 48000.0);
    EXPECT_EQ (out.samples.getNumChannels(), 1);
    EXPECT_EQ (out.length, 0);
}

TEST_F (AudioConversionTest, AiffFlacAndOggAreDecodedToThePedalFormat)
{
    const auto source = makeSines (2, 66150, 44100.0);
    juce::AiffAudioFormat aiff;
    juce::FlacAudioFormat flac;
    juce::OggVorbisAudioFormat ogg;

    struct Case { juce::AudioFormat& format; const char* name; int bits; int quality; bool lossless; };

    for (auto& c : { Case { aiff, "in.aif", 24, 0, true }, Case { flac, "in.flac", 16, 5, true }, Case { ogg, "in.ogg", 32, 6, false } })
    {
        SCOPED_TRACE (c.name);

        const auto file = input (c.name);
        writeAudioFile (c.format, file, 44100.0, c.bits, source, c.quality);

        ASSERT_TRUE (convert (file, 48000.0, 16, 2));
        const auto out = readWav (getTemporaryWavFile());
        EXPECT_EQ (out.rate, 48000.0);
        EXPECT_EQ (out.bits, 16);
        EXPECT_NEAR ((double) out.length, 72000.0, c.lossless ? 0.0 : 2048.0);
        expectSines (out, 2, 48000.0);
    }
}

TEST_F (AudioConversionTest, Mp3IsDecodedToThePedalFormat)
{
    const auto wav = writeWav ("for-mp3.wav", 44100.0, 16, makeSines (2, 88200, 44100.0));
    const auto mp3 = input ("in.mp3");

    juce::ChildProcess lame;
    ASSERT_TRUE (lame.start (juce::StringArray { "lame", "--quiet", "-b", "192",
                                                 wav.getFullPathName(), mp3.getFullPathName() }))
        << "the lame encoder is needed to make the input";
    ASSERT_TRUE (lame.waitForProcessToFinish (60000));
    ASSERT_EQ (lame.getExitCode(), 0u);

    ASSERT_TRUE (convert (mp3, 48000.0, 24, 2));
    const auto out = readWav (getTemporaryWavFile());
    EXPECT_EQ (out.rate, 48000.0);
    EXPECT_EQ (out.bits, 24);
    // The encoder adds its delay and pads the last frame.
    EXPECT_NEAR ((double) out.length, 96000.0, 4 * 1152.0);
    expectSines (out, 2, 48000.0);
}

TEST_F (AudioConversionTest, FileMustBeReadByTheFormatItsExtensionNamesFirst)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    auto readerFormat = [&formats] (const juce::File& file)
    {
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
        return reader != nullptr ? reader->getFormatName() : juce::String();
    };

    juce::FlacAudioFormat flac;
    const auto flacFile = input ("real.flac");
    writeAudioFile (flac, flacFile, 48000.0, 16, makeSines (1, 4000, 48000.0));
    ASSERT_EQ (readerFormat (flacFile), flac.getFormatName());

    for (auto* name : { "flac-data.wav", "no-extension" })
    {
        const auto renamed = input (name);
        ASSERT_TRUE (flacFile.copyFileTo (renamed));
        EXPECT_FALSE (convert (renamed, 48000.0, 16, 1)) << name;
    }

    // A WAV header announcing Vorbis data hands the file to the Ogg reader: not the WAV format.
    juce::OggVorbisAudioFormat ogg;
    const auto oggFile = input ("real.ogg");
    writeAudioFile (ogg, oggFile, 48000.0, 32, makeSines (1, 4000, 48000.0), 4);
    juce::MemoryBlock oggBytes;
    oggFile.loadFileAsData (oggBytes);
    const auto vorbisInWav = writeBytes ("vorbis.wav", makeRawWav (0x6750, 1, 48000, 16, oggBytes));

    ASSERT_EQ (readerFormat (vorbisInWav), ogg.getFormatName());
    EXPECT_FALSE (convert (vorbisInWav, 48000.0, 16, 1));

    // The extension is compared ignoring case.
    EXPECT_TRUE (convert (writeWav ("LOUD.WAV", 44100.0, 16, makeSines (1, 4000, 44100.0)), 48000.0, 16, 1));
}

TEST_F (AudioConversionTest, FailedConversionLeavesNoFileToSend)
{
    const auto file = writeWav ("a.wav", 44100.0, 16, makeSines (1, 4000, 44100.0));
    ASSERT_TRUE (convert (file, 48000.0, 16, 1));

    // The temporary file is emptied before it is read.
    EXPECT_FALSE (convertToDeviceWav (getTemporaryWavFile().getFullPathName(), 48000.0, 16, 1));
    EXPECT_FALSE (getTemporaryWavFile().exists());

    for (int bits : { 40, 64, 12 })
        EXPECT_FALSE (convert (file, 48000.0, bits, 1)) << bits;

    EXPECT_FALSE (convert (file, 48000.0, 16, 0));
    EXPECT_FALSE (convert (file, 48000.0, 16, 129));
    EXPECT_FALSE (convert (file, 0.0, 16, 1));
    EXPECT_FALSE (getTemporaryWavFile().exists());

    // The writer's largest channel count still works.
    ASSERT_TRUE (convert (file, 48000.0, 16, 128));
    const auto out = readWav (getTemporaryWavFile());
    ASSERT_EQ (out.samples.getNumChannels(), 128);
    EXPECT_GT (out.samples.getMagnitude (0, 0, (int) out.length), 0.4f);
    EXPECT_EQ (out.samples.getMagnitude (127, 0, (int) out.length), 0.0f);
}

TEST_F (AudioConversionTest, MissingInputOrDirectoryLeavesTemporaryFileUntouched)
{
    ASSERT_TRUE (convert (writeWav ("a.wav", 44100.0, 16, makeSines (1, 4000, 44100.0)), 48000.0, 16, 1));
    const auto before = temporaryBytes();
    ASSERT_GT (before.getSize(), 0u);

    EXPECT_FALSE (convert (input ("missing.wav"), 48000.0, 16, 1));
    EXPECT_FALSE (convert (scratch.getChildFile ("in"), 48000.0, 16, 1));
    EXPECT_FALSE (convertToDeviceWav ({}, 48000.0, 16, 1));
    EXPECT_EQ (temporaryBytes(), before);
}

TEST_F (AudioConversionTest, HeadersWithoutAUsableFrameCountAreRefused)
{
    juce::MemoryBlock data (100, true);

    // 8-bit mono claiming 2^32 - 2 frames: more than a 32-bit count holds.
    const auto huge = writeBytes ("huge.wav", makeRawWav (1, 1, 48000, 8, data, false, 0xfffffffe));
    EXPECT_FALSE (convert (huge, 48000.0, 16, 1));

    // Two billion samples a second would make the resampler read gigabytes per block.
    const auto fast = writeBytes ("fast.wav", makeRawWav (1, 1, 2000000000, 16, data));
    EXPECT_FALSE (convert (fast, 48000.0, 16, 1));
}

TEST_F (AudioConversionTest, WriteFailuresAreReportedAndNothingIsLeftBehind)
{
    const auto copyable = writeWav ("copy.wav", 48000.0, 16, makeSines (2, 48000, 48000.0));
    const auto convertible = writeWav ("convert.wav", 44100.0, 16, makeSines (2, 48000, 44100.0));

    {
        const auto limit = ScopedProcessLimit::fileSize (65536);
        EXPECT_FALSE (convert (copyable, 48000.0, 16, 2));
        EXPECT_FALSE (getTemporaryWavFile().exists());
        EXPECT_FALSE (convert (convertible, 48000.0, 16, 2));
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }

    // A directory in the file's place cannot be removed.
    ASSERT_TRUE (getTemporaryWavFile().getChildFile ("keep").create().wasOk());
    EXPECT_FALSE (convert (convertible, 48000.0, 16, 2));
    EXPECT_TRUE (getTemporaryWavFile().getChildFile ("keep").existsAsFile());
}

TEST_F (AudioConversionTest, TemporaryFileLiesInAFolderOnlyItsUserCanEnter)
{
    const auto file = writeWav ("a.wav", 44100.0, 16, makeSines (1, 4000, 44100.0));
    const auto folder = privateFolder();

    ASSERT_TRUE (convert (file, 48000.0, 16, 1));
    EXPECT_EQ (getTemporaryWavFile(), folder.getChildFile ("brevomatic_tmp.wav"));
    EXPECT_TRUE (getTemporaryWavFile().existsAsFile());

    struct stat info {};
    ASSERT_EQ (::lstat (folder.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_TRUE (S_ISDIR (info.st_mode));
    EXPECT_EQ (info.st_mode & 07777, 0700u);
    EXPECT_EQ (info.st_uid, ::geteuid());

    auto expectRefused = [&] (const char* what)
    {
        SCOPED_TRACE (what);
        EXPECT_FALSE (convert (file, 48000.0, 16, 1));
        EXPECT_FALSE (getTemporaryWavFile().exists());
    };

    ASSERT_TRUE (folder.deleteRecursively());
    ASSERT_EQ (::mkdir (folder.getFullPathName().toRawUTF8(), 0700), 0);
    ASSERT_EQ (::chmod (folder.getFullPathName().toRawUTF8(), 0755), 0);
    expectRefused ("a folder others can enter");

    ASSERT_TRUE (folder.deleteRecursively());
    const auto elsewhere = scratch.getChildFile ("elsewhere");
    ASSERT_EQ (::mkdir (elsewhere.getFullPathName().toRawUTF8(), 0700), 0);
    ASSERT_TRUE (elsewhere.createSymbolicLink (folder, false));
    expectRefused ("a symbolic link");
    EXPECT_FALSE (elsewhere.getChildFile ("brevomatic_tmp.wav").exists());

    ASSERT_TRUE (folder.deleteFile());
    ASSERT_TRUE (folder.replaceWithText ("not a folder"));
    ASSERT_EQ (::chmod (folder.getFullPathName().toRawUTF8(), 0700), 0);
    expectRefused ("a plain file");
    EXPECT_EQ (folder.loadFileAsString(), "not a folder");

    if (::geteuid() == 0)
    {
        ASSERT_TRUE (folder.deleteFile());
        ASSERT_EQ (::mkdir (folder.getFullPathName().toRawUTF8(), 0700), 0);
        ASSERT_EQ (::chown (folder.getFullPathName().toRawUTF8(), 65534, 65534), 0);
        expectRefused ("another user's folder");
    }
}

TEST_F (AudioConversionTest, PatternListHoldsEachRegisteredExtensionOnce)
{
    const auto patterns = buildSupportedWildcards();
    EXPECT_EQ (patterns, "*.wav;*.bwf;*.aiff;*.aif;*.flac;*.ogg;*.mp3");

    auto list = juce::StringArray::fromTokens (patterns, ";", "");
    const auto count = list.size();
    list.removeDuplicates (true);
    EXPECT_EQ (list.size(), count);
}

TEST_F (AudioConversionTest, MemoryDoesNotGrowWithTheLengthOfTheInput)
{
   #if QUENDRIX_TEST_SANITIZED
    GTEST_SKIP() << "the address sanitizer's quarantine keeps every freed block";
   #endif

    // 90 s of 16-bit stereo: 16 MB on disk, 35 MB once decoded at the pedal's rate.
    const auto file = input ("long.wav");
    {
        juce::WavAudioFormat wav;
        auto stream = std::make_unique<juce::FileOutputStream> (file);
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), 44100.0, 2, 16, {}, 0));
        ASSERT_NE (writer, nullptr);
        stream.release();
        const auto block = makeSines (2, 44100, 44100.0);

        for (int second = 0; second < 90; ++second)
            ASSERT_TRUE (writer->writeFromAudioSampleBuffer (block, 0, block.getNumSamples()));
    }

    {
        // Resets the peak resident size to the current one.
        std::ofstream clearRefs ("/proc/self/clear_refs");
        clearRefs << "5";
        clearRefs.close();
        ASSERT_TRUE (clearRefs.good());
    }
    const auto before = readStatusField ("VmRSS").getLargeIntValue();

    ASSERT_TRUE (convert (file, 48000.0, 16, 2));

    const auto peakGrowthKb = readStatusField ("VmHWM").getLargeIntValue() - before;
    EXPECT_LT (peakGrowthKb, 4096) << "peak grew by " << peakGrowthKb << " kB";
    EXPECT_EQ (readWav (getTemporaryWavFile()).length, (juce::int64) (90 * 44100 / (44100.0 / 48000.0)));
}
