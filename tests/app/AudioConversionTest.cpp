#include <gtest/gtest.h>

#include "AudioConversion.h"
#include "helpers/ProcessLimits.h"
#include "helpers/ScratchFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace
{
using Bytes = std::vector<juce::uint8>;

Bytes operator+ (Bytes first, const Bytes& second)
{
    first.insert (first.end(), second.begin(), second.end());
    return first;
}

/** value in size bytes, least significant first. */
Bytes number (juce::uint64 value, size_t size)
{
    const auto littleEndian = juce::ByteOrder::swapIfBigEndian (value);
    const auto* first = reinterpret_cast<const juce::uint8*> (&littleEndian);
    return Bytes (first, first + size);
}

/** A RIFF chunk; its header claims claimedLength bytes unless that is 0. */
Bytes chunk (const char* id, const Bytes& body, juce::uint64 claimedLength = 0)
{
    return Bytes (id, id + 4) + number (claimedLength != 0 ? claimedLength : body.size(), 4) + body;
}

/** A WAV file of dataBytes zeros whose data chunk claims claimedBytes unless that is 0, with chunkBefore ahead of
    its fmt chunk.
*/
Bytes makeWav (juce::uint64 channels, juce::uint64 rate, juce::uint64 bits, size_t dataBytes, juce::uint64 claimedBytes = 0,
               juce::uint64 formatTag = 1, const Bytes& chunkBefore = {})
{
    const auto format = number (formatTag, 2) + number (channels, 2) + number (rate, 4) + number (rate * channels * bits / 8, 4)
                      + number (channels * bits / 8, 2) + number (bits, 2);
    return chunk ("RIFF", Bytes { 'W', 'A', 'V', 'E' } + chunkBefore + chunk ("fmt ", format) + chunk ("data", Bytes (dataBytes), claimedBytes));
}
} // namespace

class AudioConversionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (scratch.isDirectory());
        formats.registerBasicFormats();
    }

    /** 20001 stereo frames at 44100 Hz of the tone generator's 1000 Hz at half scale, in the format the extension
        names, with a chunk that a conversion drops.
    */
    juce::File toneFile (const juce::String& name, int bits = 16)
    {
        const auto file = scratch.getChildFile (name);
        juce::ToneGeneratorAudioSource tone;
        std::unique_ptr<juce::AudioFormatWriter> writer (formats.findFormatForFileExtension (file.getFileExtension())->createWriterFor (
            new juce::FileOutputStream (file), 44100.0, 2, bits, juce::WavAudioFormat::createBWAVMetadata ("take 3", {}, {}, {}, 0, {}), 0));
        EXPECT_TRUE (writer != nullptr && writer->writeFromAudioSource (tone, 20001)) << name;
        return file;
    }

    /** The temporary file holds that tone at this rate and depth, whole: up to its last frame, 21769 at 48000 Hz, in
        both channels (one is silent when the resampler has one channel, and the end when it has the wrong ratio).
    */
    void expectTone (double rate, int bits)
    {
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (getTemporaryWavFile()));
        ASSERT_TRUE (reader != nullptr && reader->numChannels == 2);
        EXPECT_EQ (reader->sampleRate, rate);
        EXPECT_EQ ((int) reader->bitsPerSample, bits);
        EXPECT_EQ (reader->lengthInSamples, rate == 44100.0 ? 20001 : 21769);
        juce::Range<float> levels[2];
        reader->readMaxLevels (reader->lengthInSamples - 1000, 1000, levels, 2);

        for (auto& level : levels)
            EXPECT_NEAR (level.getEnd(), 0.5f, 0.03f);
    }

    /** A file of these bytes, or a FIFO for none. */
    juce::File put (const char* name, const Bytes& bytes)
    {
        const auto file = scratch.getChildFile (name);
        EXPECT_TRUE (bytes.empty() ? ::mkfifo (file.getFullPathName().toRawUTF8(), 0600) == 0 : file.replaceWithData (bytes.data(), bytes.size()));
        return file;
    }

    // The test's inputs, and the temporary directory it hands the program.
    const ScratchFolder scratchFolder;
    const juce::File& scratch = scratchFolder.folder;
    juce::AudioFormatManager formats;
};

TEST_F (AudioConversionTest, EveryFileIsSentFaithfullyOrRefusedAndNoneCrashesHangsOrWritesGigabytes)
{
    const auto pedalWav = toneFile ("pedal.wav");
    juce::MemoryBlock ogg;
    ASSERT_TRUE (toneFile ("in.ogg").loadFileAsData (ogg));

    // The pedal of this test takes 44100 Hz, 16-bit stereo unless a row says otherwise, up to 8 MiB; no file
    // can grow past 9 MiB. copied: byte for byte. converted: the tone, checked by expectTone. accepted: converted,
    // as what may be meant. formatError: refused, before any sample is read where the header tells. sizeAlert:
    // the file to send would pass the pedal's limit, and nothing is written.
    enum Expect { copied, converted, accepted, formatError, sizeAlert };
    struct Row { juce::File input; Expect expect; double rate = 44100.0; int bits = 16, channels = 2; juce::int64 fileSizeLimit = 9 << 20; };

    const Row rows[] = {
        // A WAV file in the pedal's format keeps its extra chunk; any other file is converted, a FLAC one in
        // the pedal's format too.
        { pedalWav,                                         copied },
        { toneFile ("pedal.flac"),                          converted },
        { toneFile ("24-bits.wav", 24),                     converted },
        { pedalWav,                                         converted, 48000.0 },
        { put ("empty.wav", makeWav (1, 22050, 16, 0)),     accepted },

        // Writes past a file size limit fail as on a full disk: in a copy, and in a conversion. The WAV
        // writer cannot number more channels, and a reader must be of the format the extension names.
        { pedalWav,                                         formatError, 44100.0, 16, 2, 65536 },
        { pedalWav,                                         formatError, 48000.0, 16, 2, 65536 },
        { pedalWav,                                         formatError, 44100.0, 16, 129 },
        { put ("vorbis-data.wav", makeWav (1, 44100, 16, 0, 0, 0x6750) + Bytes (ogg.begin(), ogg.end())),          formatError },

        // Gigabytes from a few bytes: the header's length is all there is.
        { put ("data-claims-4-GiB.wav", makeWav (1, 44100, 16, 0, 0xffffffff)),                      sizeAlert },

        // The resampler would read gigabytes a block; frames wider than the readers' buffer give 0 frames a pass.
        { put ("2-GHz.wav", makeWav (1, 2000000000, 16, 8000)),                                      formatError },
        { put ("1441-channels.wav", makeWav (1441, 44100, 32, 1441 * 16)),                           formatError },

        // Bit depths the readers turn into silence or noise; a FIFO blocks in open for ever.
        { put ("20-bits.wav", makeWav (1, 44100, 20, 3000)),                                         formatError },
        { put ("16-bit-float.wav", makeWav (1, 44100, 16, 2000, 0, 3)),                              formatError },
        { put ("fifo.wav", {}),                                                                      formatError },

        // Faults inside the framework's decoders, mended by cmake/juce-patches: a metadata chunk that asks for
        // 4 GiB (which the address space cannot give), MP3 frames that write or copy out of bounds (the second
        // found by a fuzzer: two frames, and a third that steps back past the end of the last one).
        { put ("bext-claims-4-GiB.wav", makeWav (1, 44100, 16, 4096, 0, 1, chunk ("bext", Bytes (64, 1), 0xfffffff0))),   formatError },
        { put ("istereo-past-the-band.mp3", { 0xff, 0xfb, 0xe6, 0x5d, 0, 0, 0x60, 0x70, 0, 0xaf, 0x33, 0x98, 0x4f, 0x4f }), formatError },
        { put ("rolls-back-too-far.mp3", Bytes { 0xff, 0xfb, 0x64, 0, 0, 0x92 } + Bytes (234) + Bytes { 0xff, 0xfb, 0x90 } + Bytes (1516)
                                         + Bytes { 0xff, 0xe3 } + Bytes (1987) + Bytes { 0xff, 0xfb, 0x90, 0, 0xda }),              accepted },
    };

    for (auto& row : rows)
    {
        SCOPED_TRACE (row.input.getFileName() + juce::String::formatted (" to %g Hz, %d bits, %d channels", row.rate, row.bits, row.channels));
        // Nothing big may be written, nor allocated (the bext chunk asks for 4 GiB), while a row runs.
        const auto fileSize = ScopedProcessLimit::fileSize (row.fileSizeLimit);
        const auto memory = ScopedProcessLimit::addressSpace (256u << 20);
        const auto convert = [&] (juce::int64 limit) { return convertToDeviceWav (row.input.getFullPathName(), row.rate, row.bits, row.channels, limit); };

        const auto result = convert (8 << 20);
        EXPECT_EQ (result.outcome, row.expect == formatError ? ConversionResult::refused
                                 : row.expect == sizeAlert ? ConversionResult::tooLarge : ConversionResult::converted);
        EXPECT_EQ (getTemporaryWavFile().exists(), result.succeeded());

        if (! result.succeeded())
            continue;

        if (row.expect == copied)
            EXPECT_TRUE (getTemporaryWavFile().hasIdenticalContentTo (row.input));
        else if (row.expect == converted)
            expectTone (row.rate, row.bits);

        // The size told before anything is written is the size of the file written.
        const auto written = getTemporaryWavFile().getSize();
        EXPECT_EQ (convert (written - 1).size, written);
    }
}

TEST_F (AudioConversionTest, TemporaryFileLiesInAFolderOnlyItsUserCanEnter)
{
    const auto folder = scratch.getChildFile ("quendrix-" + juce::String ((int) ::geteuid()));
    const auto convert = [input = toneFile ("in.wav")] { return convertToDeviceWav (input.getFullPathName(), 48000.0, 16, 2, 1 << 29).outcome; };

    // This user's folder with looser permissions is set back to 0700, and used.
    ASSERT_TRUE (folder.createDirectory().wasOk() && ::chmod (folder.getFullPathName().toRawUTF8(), 02755) == 0);
    EXPECT_EQ (convert(), ConversionResult::converted);
    EXPECT_EQ (std::filesystem::status (folder.getFullPathName().toStdString()).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ (getTemporaryWavFile(), folder.getChildFile ("brevomatic_tmp.wav"));

    // Whoever controls where a symbolic link points could swap the file before it is sent, even where it points
    // to a folder of this user's now.
    ASSERT_TRUE (folder.deleteRecursively() && scratch.createSymbolicLink (folder, false));
    EXPECT_EQ (convert(), ConversionResult::refused);
}
