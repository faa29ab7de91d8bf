#include <gtest/gtest.h>

#include "AudioConversion.h"
#include "helpers/ProcessLimits.h"

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using Bytes = std::vector<juce::uint8>;

Bytes join (std::initializer_list<Bytes> parts)
{
    Bytes all;

    for (auto& part : parts)
        all.insert (all.end(), part.begin(), part.end());

    return all;
}

/** value in size bytes, least significant first, or most significant first when bigEndian. */
Bytes number (juce::uint64 value, int size, bool bigEndian = false)
{
    Bytes bytes;

    for (int i = 0; i < size; ++i)
        bytes.push_back ((juce::uint8) (value >> (8 * (bigEndian ? size - 1 - i : i))));

    return bytes;
}

/** A RIFF chunk, or with bigEndian an IFF one; its header claims claimedLength bytes unless that is 0. */
Bytes chunk (const char* id, const Bytes& body, juce::uint64 claimedLength = 0, bool bigEndian = false)
{
    return join ({ Bytes (id, id + 4), number (claimedLength != 0 ? claimedLength : body.size(), 4, bigEndian), body });
}

/** A WAV file of dataBytes zeros whose data chunk claims claimedBytes unless that is 0; formatExtra ends its fmt
    chunk, and chunkBefore comes before it.
*/
Bytes makeWav (juce::uint64 channels, juce::uint64 rate, juce::uint64 bits, size_t dataBytes, juce::uint64 claimedBytes = 0,
               juce::uint64 formatTag = 1, const Bytes& formatExtra = {}, const Bytes& chunkBefore = {})
{
    const auto align = (channels * bits / 8) & 0xffff;
    const auto format = join ({ number (formatTag, 2), number (channels, 2), number (rate, 4), number (rate * align, 4),
                                number (align, 2), number (bits, 2), formatExtra });
    return chunk ("RIFF", join ({ Bytes { 'W', 'A', 'V', 'E' }, chunkBefore, chunk ("fmt ", format),
                                  chunk ("data", Bytes (dataBytes), claimedBytes) }));
}

/** An AIFF file of 1000 mono frames at 44100 Hz, without sound data, then extra. */
Bytes makeAiff (juce::uint64 bits, const Bytes& extra = {})
{
    const auto comm = join ({ number (1, 2, true), number (1000, 4, true), number (bits, 2, true), { 0x40, 0x0e, 0xac, 0x44, 0, 0, 0, 0, 0, 0 } });
    return chunk ("FORM", join ({ Bytes { 'A', 'I', 'F', 'F' }, chunk ("COMM", comm, 0, true), extra }), 0, true);
}
} // namespace

class AudioConversionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A folder of the test's own for its inputs and for the temporary directory it hands the program.
        auto pattern = (juce::File::getSpecialLocation (juce::File::tempDirectory).getFullPathName() + "/conversion-XXXXXX").toStdString();
        ASSERT_NE (::mkdtemp (pattern.data()), nullptr);
        scratch = juce::File (pattern);
        ::setenv ("TMPDIR", pattern.c_str(), 1);
        formats.registerBasicFormats();
    }

    void TearDown() override
    {
        ::setenv ("TMPDIR", previousTmpDir.toRawUTF8(), 1);
        scratch.deleteRecursively();
    }

    /** 20001 frames at 44100 Hz, 1000 Hz on the left and 500 Hz on the right at half scale, in the format the
        extension names, with a chunk that a conversion drops.
    */
    juce::File sines (const juce::String& name, int bits = 16)
    {
        const auto file = scratch.getChildFile (name);
        juce::AudioBuffer<float> samples (2, 20001);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < samples.getNumSamples(); ++i)
                samples.setSample (c, i, 0.5f * (float) std::sin (juce::MathConstants<double>::twoPi * 1000.0 / (c + 1) * i / 44100.0));

        std::unique_ptr<juce::AudioFormatWriter> writer (formats.findFormatForFileExtension (file.getFileExtension())
            ->createWriterFor (new juce::FileOutputStream (file), 44100.0, 2, bits, juce::WavAudioFormat::createBWAVMetadata ("take 3", {}, {}, {}, 0, {}), 0));
        EXPECT_TRUE (writer != nullptr && writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples())) << name;
        return file;
    }

    /** The temporary file holds those sines whole at this rate and depth, each at its pitch and level. */
    void expectSines (double rate, int bits)
    {
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (getTemporaryWavFile()));
        ASSERT_TRUE (reader != nullptr && reader->numChannels == 2);
        EXPECT_EQ (reader->sampleRate, rate);
        EXPECT_EQ ((int) reader->bitsPerSample, bits);
        EXPECT_EQ (reader->lengthInSamples, rate == 44100.0 ? 20001 : 21769);

        juce::AudioBuffer<float> out (2, 8192);
        reader->read (&out, 0, 8192, 4096, true, true);

        for (int c = 0; c < 2; ++c)
        {
            int signChanges = 0;

            for (int i = 1; i < 8192; ++i)
                signChanges += (out.getSample (c, i - 1) < 0.0f) != (out.getSample (c, i) < 0.0f) ? 1 : 0;

            EXPECT_NEAR (signChanges * rate / (2 * 8192), 1000.0 / (c + 1), 5.0) << "channel " << c;
            EXPECT_NEAR (out.getMagnitude (c, 0, 8192), 0.5f, 0.05f) << "channel " << c;
        }
    }

    /** A file of these bytes, or a FIFO for none. */
    juce::File put (const char* name, const Bytes& bytes)
    {
        const auto file = scratch.getChildFile (name);
        EXPECT_TRUE (bytes.empty() ? ::mkfifo (file.getFullPathName().toRawUTF8(), 0600) == 0 : file.replaceWithData (bytes.data(), bytes.size()));
        return file;
    }

    juce::File scratch;
    juce::AudioFormatManager formats;
    const juce::String previousTmpDir = juce::SystemStats::getEnvironmentVariable ("TMPDIR", "/tmp");
};

TEST_F (AudioConversionTest, EveryFileIsSentFaithfullyOrRefusedAndNoneCrashesHangsOrWritesGigabytes)
{
    const auto pedalWav = sines ("pedal.wav"), oggFile = sines ("in.ogg");
    juce::MemoryBlock ogg;
    ASSERT_TRUE (oggFile.loadFileAsData (ogg));

    // The pedal of this test takes 44100 Hz, 16-bit stereo unless a row says otherwise, up to 8 MiB.
    // copied: byte for byte. converted: the sines, checked by expectSines. accepted: converted, as what
    // may be meant. formatError: refused, before any sample is read where the header tells. sizeAlert:
    // the file to send would pass the limit, and nothing is written.
    constexpr juce::int64 limit = 8 << 20;
    enum Expect { copied, converted, accepted, formatError, sizeAlert };
    struct Row { juce::File input; Expect expect; double rate = 44100.0; int bits = 16, channels = 2; juce::int64 fileSizeLimit = limit + (1 << 20); };

    const Row rows[] = {
        // A WAV file in the pedal's format keeps its extra chunk; any other file is converted, an AIFF or
        // FLAC one in the pedal's format too.
        { pedalWav,                                copied },
        { sines ("pedal.aif"),                     converted },
        { sines ("pedal.flac"),                    converted, 48000.0 },
        { sines ("24-bits.wav", 24),               converted },
        { pedalWav,                                converted, 48000.0 },
        { oggFile,                                 converted, 48000.0 },
        { put ("empty.wav", makeWav (1, 22050, 16, 0)), accepted },

        // Writes past a file size limit fail as on a full disk: in a copy, and in a conversion. The
        // WAV writer cannot number more channels, and a reader must be of the format the extension names.
        { pedalWav,                                formatError, 44100.0, 16, 2, 65536 },
        { pedalWav,                                formatError, 48000.0, 16, 2, 65536 },
        { pedalWav,                                formatError, 44100.0, 16, 129 },
        { put ("vorbis-data.wav", join ({ makeWav (1, 44100, 16, 0, 0, 0x6750), Bytes (ogg.begin(), ogg.end()) })), formatError },

        // Gigabytes from a few bytes: the header's length or rate is all there is.
        { put ("data-claims-4-GiB.wav", makeWav (1, 44100, 16, 0, 0xffffffff)),                      sizeAlert },
        { put ("1-Hz.wav", makeWav (1, 1, 16, 0, 2 * 48695)),                                        sizeAlert },
        { put ("2^32-frames.wav", makeWav (1, 48000, 8, 100, 0xfffffffe)),                           formatError },

        // The resampler would read gigabytes a block; frames wider than the readers' buffer give 0 frames a pass.
        { put ("2-GHz.wav", makeWav (1, 2000000000, 16, 8000)),                                      formatError },
        { put ("1441-channels.wav", makeWav (1441, 44100, 32, 1441 * 16)),                           formatError },

        // Bit depths the readers turn into silence, noise or a division by zero; a FIFO blocks in open for ever.
        { put ("20-bits.wav", makeWav (1, 44100, 20, 3000)),                                         formatError },
        { put ("16-bit-float.wav", makeWav (1, 44100, 16, 2000, 0, 3)),                              formatError },
        { put ("0-bits-no-sound.aiff", makeAiff (0)),                                                formatError },
        { put ("fifo.wav", {}),                                                                      formatError },

        // Faults inside the framework's decoders, mended by cmake/juce-patches; the MP3 ones found by a fuzzer.
        { put ("bext-claims-4-GiB.wav", makeWav (1, 44100, 16, 4096, 0, 1, {}, chunk ("bext", Bytes (64, 1), 0xfffffff0))), formatError },
        { put ("inst-claims-4-GiB.aiff", makeAiff (16, chunk ("INST", Bytes (20, 1), 0xfffffff0, true))), accepted },
        { put ("channel-mask-bit-31.wav", makeWav (1, 44100, 16, 4096, 0, 0xfffe, join ({ number (22, 2), number (16, 2), number (0x80000000, 4),
              { 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 } }))),      accepted },
        { put ("istereo-past-the-band.mp3", { 0xff, 0xfb, 0xe6, 0x5d, 0, 0, 0x60, 0x70, 0, 0xaf, 0x33, 0x98, 0x4f, 0x4f }),     formatError },
        { put ("rolls-back-too-far.mp3", join ({ { 0xff, 0xfb, 0x64, 0, 0, 0x92 }, Bytes (234), { 0xff, 0xfb, 0x90 }, Bytes (1516),
                                                 { 0xff, 0xe3 }, Bytes (1987), { 0xff, 0xfb, 0x90, 0, 0xda } })),                 accepted },
    };

    for (auto& row : rows)
    {
        SCOPED_TRACE (row.input.getFileName() + juce::String::formatted (" to %g Hz, %d bits, %d channels", row.rate, row.bits, row.channels));
        const auto convert = [&] (juce::int64 sizeLimit)
        {
            // Nothing big may be written, nor allocated (the metadata chunks ask for 4 GiB).
            const auto fileSize = ScopedProcessLimit::fileSize (row.fileSizeLimit);
            const auto memory = ScopedProcessLimit::addressSpace (256u << 20);
            return convertToDeviceWav (row.input.getFullPathName(), row.rate, row.bits, row.channels, sizeLimit);
        };

        const auto result = convert (limit);
        EXPECT_EQ (result.outcome, row.expect == formatError ? ConversionResult::refused
                                 : row.expect == sizeAlert ? ConversionResult::tooLarge : ConversionResult::converted);
        EXPECT_EQ (result.size > limit, row.expect == sizeAlert);
        EXPECT_EQ (getTemporaryWavFile().exists(), result.succeeded());

        if (! result.succeeded())
            continue;

        if (row.expect == copied)
            EXPECT_TRUE (getTemporaryWavFile().hasIdenticalContentTo (row.input));
        else if (row.expect == converted)
            expectSines (row.rate, row.bits);

        // The size told before anything is written is the size of the file written.
        const auto written = getTemporaryWavFile().getSize();
        EXPECT_EQ (convert (written - 1).size, written);
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }
}

TEST_F (AudioConversionTest, TemporaryFileLiesInAFolderOnlyItsUserCanEnter)
{
    const auto input = sines ("in.wav");
    const auto folder = scratch.getChildFile ("quendrix-" + juce::String ((int) ::geteuid()));
    const auto path = folder.getFullPathName().toStdString();
    const auto convert = [&] { return convertToDeviceWav (input.getFullPathName(), 48000.0, 16, 2, 1 << 29).outcome; };

    // This user's folder with looser permissions is set back to 0700, and used.
    ASSERT_TRUE (folder.createDirectory().wasOk() && ::chmod (path.c_str(), 02755) == 0);
    EXPECT_EQ (convert(), ConversionResult::converted);
    struct stat info {};
    EXPECT_TRUE (::lstat (path.c_str(), &info) == 0 && (info.st_mode & 07777) == 0700);
    EXPECT_TRUE (folder.getChildFile ("brevomatic_tmp.wav").existsAsFile());

    // Whoever else controls the folder could swap the file before it is sent. Giving it away needs root.
    ASSERT_TRUE (folder.deleteRecursively() && scratch.getChildFile ("elsewhere").createDirectory().wasOk()
                 && scratch.getChildFile ("elsewhere").createSymbolicLink (folder, false));
    EXPECT_EQ (convert(), ConversionResult::refused);

    if (::geteuid() == 0)
    {
        ASSERT_TRUE (folder.deleteFile() && folder.createDirectory().wasOk() && ::chown (path.c_str(), 65534, 65534) == 0);
        EXPECT_EQ (convert(), ConversionResult::refused);
    }
}
