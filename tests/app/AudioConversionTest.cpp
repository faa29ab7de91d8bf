#include <gtest/gtest.h>

#include "AudioConversion.h"
#include "helpers/ProcessLimits.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace
{
using Bytes = std::vector<juce::uint8>;

Bytes bytesOf (const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData (block);
    return Bytes (block.begin(), block.end());
}

/** The temporary file is a WAV file of the test's sines at the target's rate, bits and channels: of the
    same length, or resampled to 48000 Hz, and each sine's pitch and level (clipped to full scale) away
    from the resampler's and the codecs' edges.
*/
void expectSines (double rate, int bits, int channels, float level, int lengthTolerance)
{
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (getTemporaryWavFile().createInputStream().release(), true));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->sampleRate, rate);
    EXPECT_EQ ((int) reader->bitsPerSample, bits);
    ASSERT_EQ ((int) reader->numChannels, channels);
    EXPECT_NEAR ((double) reader->lengthInSamples, rate == 44100.0 ? 20001 : 21769, lengthTolerance);

    juce::AudioBuffer<float> out (channels, (int) reader->lengthInSamples);
    reader->read (&out, 0, out.getNumSamples(), 0, true, true);

    for (int c = 0; c < std::min (channels, 2); ++c)
    {
        int signChanges = 0;

        for (int i = 4096; i < 4096 + 8192; ++i)
            signChanges += (out.getSample (c, i - 1) < 0.0f) != (out.getSample (c, i) < 0.0f) ? 1 : 0;

        EXPECT_NEAR (signChanges * rate / (2 * 8192), 1000.0 / (c + 1), 5.0) << "channel " << c;
        EXPECT_NEAR (out.getMagnitude (c, 4096, 8192), std::min (level, 1.0f), 0.05f) << "channel " << c;
    }
}

//==============================================================================
// Hostile files, built byte by byte.

Bytes join (std::initializer_list<Bytes> parts)
{
    Bytes all;

    for (auto& part : parts)
        all.insert (all.end(), part.begin(), part.end());

    return all;
}

Bytes text (const char* chars) { return Bytes (chars, chars + std::strlen (chars)); }
Bytes zeros (size_t count, juce::uint8 value = 0) { return Bytes (count, value); }

/** value in size bytes, least significant first, or most significant first when bigEndian. */
Bytes number (juce::uint64 value, int size, bool bigEndian = false)
{
    Bytes bytes;

    for (int i = 0; i < size; ++i)
        bytes.push_back ((juce::uint8) (value >> (8 * (bigEndian ? size - 1 - i : i))));

    return bytes;
}

/** A RIFF chunk, or with bigEndian an IFF one. claimedLength: what its header says, if not its size. */
Bytes chunk (const char* id, const Bytes& body, std::optional<juce::uint64> claimedLength = {}, bool bigEndian = false)
{
    return join ({ text (id), number (claimedLength.value_or (body.size()), 4, bigEndian), body });
}

Bytes makeWav (int channels, juce::uint64 rate, int bits, const Bytes& data, std::optional<juce::uint64> dataLength = {},
               int formatTag = 1, const Bytes& formatExtra = {}, const Bytes& chunkBefore = {})
{
    const auto align = (juce::uint64) (channels * bits / 8) & 0xffff;
    const auto format = join ({ number ((juce::uint64) formatTag, 2), number ((juce::uint64) channels, 2), number (rate, 4),
                                number (rate * align, 4), number (align, 2), number ((juce::uint64) bits, 2), formatExtra });
    return chunk ("RIFF", join ({ text ("WAVE"), chunkBefore, chunk ("fmt ", format), chunk ("data", data, dataLength) }));
}

/** An AIFF file at 44100 Hz: a COMM chunk, an SSND chunk unless data is empty, then extra. */
Bytes makeAiff (int channels, juce::uint64 frames, int bits, const Bytes& data, std::optional<juce::uint64> soundLength = {},
                const Bytes& extra = {})
{
    const auto comm = join ({ number ((juce::uint64) channels, 2, true), number (frames, 4, true), number ((juce::uint64) bits, 2, true),
                              Bytes { 0x40, 0x0e, 0xac, 0x44, 0, 0, 0, 0, 0, 0 } });
    const auto sound = data.empty() ? Bytes() : chunk ("SSND", join ({ zeros (8), data }), soundLength, true);
    return chunk ("FORM", join ({ text ("AIFF"), chunk ("COMM", comm, {}, true), sound, extra }), {}, true);
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
        ::setenv ("TMPDIR", scratch.getFullPathName().toRawUTF8(), 1);
    }

    void TearDown() override
    {
        ::setenv ("TMPDIR", previousTmpDir.toRawUTF8(), 1);
        scratch.deleteRecursively();
    }

    /** 20001 frames at 44100 Hz, one sine per channel (1000 Hz in the first, 500 Hz in the second, and so on), in
        the format the extension names (MP3 through lame), with a chunk that a conversion would drop.
    */
    juce::File sines (const juce::String& name, int bits, int channels = 2, float level = 0.5f)
    {
        const auto file = scratch.getChildFile (name);

        if (file.hasFileExtension ("mp3"))
        {
            const auto wav = sines (name + ".wav", bits, channels, level).getFullPathName().quoted();
            EXPECT_EQ (std::system (("lame --quiet -V 4 " + wav + " " + file.getFullPathName().quoted()).toRawUTF8()), 0);
            return file;
        }

        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        juce::AudioBuffer<float> samples (channels, 20001);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < samples.getNumSamples(); ++i)
                samples.setSample (c, i, level * (float) std::sin (juce::MathConstants<double>::twoPi * (1000.0 / (c + 1)) * i / 44100.0));

        std::unique_ptr<juce::AudioFormatWriter> writer (formats.findFormatForFileExtension (file.getFileExtension())
            ->createWriterFor (new juce::FileOutputStream (file), 44100.0, (unsigned int) channels, bits,
                               juce::WavAudioFormat::createBWAVMetadata ("take 3", {}, {}, {}, 0, {}), 0));
        EXPECT_TRUE (writer != nullptr && writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples())) << name;
        return file;
    }

    /** A file of these bytes, or a FIFO for none. */
    juce::File put (const char* name, const Bytes& bytes)
    {
        const auto file = scratch.getChildFile (name);
        EXPECT_TRUE (bytes.empty() ? ::mkfifo (file.getFullPathName().toRawUTF8(), 0600) == 0 : file.replaceWithData (bytes.data(), bytes.size()));
        return file;
    }

    juce::File scratch;
    const juce::String previousTmpDir = juce::SystemStats::getEnvironmentVariable ("TMPDIR", "/tmp");
};

TEST_F (AudioConversionTest, EveryFileIsSentFaithfullyOrRefusedAndNoneCrashesHangsOrWritesGigabytes)
{
    // Real files to break: stereo FLAC, and VBR MP3, whose Xing header counts its frames.
    const auto flacFile = sines ("pedal.flac", 16), mp3File = sines ("in.mp3", 16);
    const auto flac = bytesOf (flacFile);
    auto mp3ClaimingTwoBillionSamples = bytesOf (mp3File);
    const auto xing = text ("Xing"), frameCount = number (1864135, 4, true);
    const auto xingAt = std::search (mp3ClaimingTwoBillionSamples.begin(), mp3ClaimingTwoBillionSamples.end(), xing.begin(), xing.end());
    ASSERT_GE (mp3ClaimingTwoBillionSamples.end() - xingAt, 12);
    std::copy (frameCount.begin(), frameCount.end(), xingAt + 8);

    // The real FLAC file with another rate, channel count or length in its STREAMINFO.
    const auto flacClaiming = [&] (juce::uint64 rate, juce::uint64 channels, juce::uint64 samples)
    {
        auto bytes = flac;
        const auto info = number ((rate << 44) | ((channels - 1) << 41) | (15ull << 36) | samples, 8, true);
        std::copy (info.begin(), info.end(), bytes.begin() + 18);
        return bytes;
    };

    // The frames carry 2 channels, and the first one is broken.
    auto flacEightChannelsInTwo = flacClaiming (44100, 8, 20001);
    const Bytes frameSync { 0xff, 0xf8 };
    *(std::search (flacEightChannelsInTwo.begin() + 42, flacEightChannelsInTwo.end(), frameSync.begin(), frameSync.end()) + 100) ^= 0xff;

    // Found by a fuzzer: the 59 bytes that are not 0 in 3753, as offset:value.
    Bytes mp3RollingBackTooFar (3753);

    for (auto& pair : juce::StringArray::fromTokens ("0:ff 1:fb 2:64 4:3f 5:92 11:82 18:50 19:85 36:26 40:c3 41:d6 42:a0 43:3d 48:e8 49:98 "
                                                     "50:b5 51:ce 54:15 55:46 59:bb 240:ff 241:fb 242:90 246:98 247:1f 252:8a 1454:a5 1455:e2 "
                                                     "1468:a8 1469:dd 1471:de 1553:5f 1572:1a 1573:f3 1589:e3 1590:33 1591:e4 1601:c6 1621:fe "
                                                     "1622:50 1623:fe 1752:01 1753:46 1758:f6 1759:ff 1760:e3 1761:07 1763:07 1768:eb 1769:04 "
                                                     "1770:e6 1791:a3 2513:fe 2514:33 2515:ff 3748:ff 3749:fb 3750:90 3752:da", false))
        mp3RollingBackTooFar[(size_t) pair.getIntValue()] = (juce::uint8) pair.fromFirstOccurrenceOf (":", false, false).getHexValue32();

    // The pedal of this test takes 44100 Hz, 16-bit stereo unless a row says otherwise, up to 8 MiB.
    // copied: byte for byte. converted: the sines, checked by expectSines. accepted: converted, as what
    // may be meant. formatError: refused, before any sample is read where the header tells. sizeAlert:
    // the file to send would pass the limit, and nothing is written.
    constexpr juce::int64 limit = 8 << 20;
    enum Expect { copied, converted, accepted, formatError, sizeAlert };
    struct Row { juce::File input; Expect expect; double rate = 44100.0; int bits = 16, channels = 2; juce::int64 fileSizeLimit = limit + (1 << 20); };
    // The tail of a WAVE_FORMAT_EXTENSIBLE fmt chunk for PCM with this channel mask.
    const auto extensiblePcm = [] (juce::uint64 mask)
    {
        return join ({ number (22, 2), number (16, 2), number (mask, 4), number (1, 4), number (0, 2), number (0x10, 2),
                       Bytes { 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 } });
    };
    const auto pedalWav = sines ("pedal.wav", 16), oggFile = sines ("in.ogg", 32), loud = sines ("loud.wav", 32, 1, 1.5f);

    const Row rows[] = {
        // A WAV file in the pedal's format keeps its extra chunk; any other file is converted, an AIFF or
        // FLAC one in the pedal's format too. Mono is the first channel, unmixed; beyond full scale clips.
        { pedalWav,                                copied },
        { sines ("pedal.aif", 16),                 converted },
        { flacFile,                                converted },
        { sines ("UPPER.WAV", 16),                 converted, 48000.0 },
        { flacFile,                                converted, 48000.0 },
        { oggFile,                                 converted, 48000.0 },
        { mp3File,                                 converted, 48000.0 },
        { sines ("three.wav", 24, 3),              converted, 44100.0, 16, 1 },
        { loud,                                    converted, 44100.0, 8, 1 },
        { loud,                                    converted, 44100.0, 24, 1 },
        { loud,                                    accepted, 44100.0, 16, 128 },
        { put ("empty.wav", makeWav (1, 22050, 16, {})), accepted },

        // Writes past a file size limit fail as on a full disk: in a copy, and in a conversion.
        { pedalWav,                                formatError, 44100.0, 16, 2, 65536 },
        { pedalWav,                                formatError, 48000.0, 16, 2, 65536 },

        // Targets the WAV writer cannot produce, and a reader not of the format the extension names.
        { loud,                                    formatError, 44100.0, 12, 1 },
        { loud,                                    formatError, 44100.0, 16, 129 },
        { loud,                                    formatError, 0.0 },
        { put ("vorbis-data.wav", join ({ makeWav (1, 44100, 16, {}, {}, 0x6750), bytesOf (oggFile) })), formatError },

        // Gigabytes from a few bytes: the header's length is all there is.
        { put ("data-claims-4-GiB.wav", makeWav (1, 44100, 16, {}, 0xffffffff)),                  sizeAlert },
        { put ("1-Hz.wav", makeWav (1, 1, 16, {}, 2 * 48695)),                                    sizeAlert },
        { put ("comm-claims-2^31.aiff", makeAiff (1, 0x7fffffff, 16, zeros (4096), 0xffffffff)),  sizeAlert },
        { put ("streaminfo-claims-2^31.flac", flacClaiming (44100, 2, (1u << 31) - 1)),          sizeAlert },
        { put ("1-Hz.flac", flacClaiming (1, 2, 20001)),                                          sizeAlert },
        { put ("xing-claims-2^31.mp3", mp3ClaimingTwoBillionSamples),                             sizeAlert },
        { put ("2^32-frames.wav", makeWav (1, 48000, 8, zeros (100), 0xfffffffe)),                formatError },

        // The resampler would read gigabytes a block; frames wider than the readers' buffer give 0 frames a pass.
        { put ("2-GHz.wav", makeWav (1, 2000000000, 16, zeros (8000))),                           formatError },
        { put ("1441-channels.wav", makeWav (1441, 44100, 32, zeros (1441 * 16))),                formatError },
        { put ("65535-channels.wav", makeWav (65535, 44100, 16, zeros (4096), 0xffffffff)),       formatError },
        { put ("1441-channels.aiff", makeAiff (1441, 4, 32, zeros (1441 * 16))),                  formatError },

        // Bit depths the readers turn into silence, noise or a division by zero; a FIFO blocks in open for ever.
        { put ("0-bits-no-ssnd.aiff", makeAiff (1, 1000, 0, {})),                                 formatError },
        { put ("12-bits.aiff", makeAiff (1, 1000, 12, zeros (2000, 0x55))),                       formatError },
        { put ("7-bits.wav", makeWav (1, 44100, 7, zeros (1000, 0x55))),                          formatError },
        { put ("20-bits.wav", makeWav (1, 44100, 20, zeros (3000, 0x55))),                        formatError },
        { put ("8-bit-float.wav", makeWav (1, 44100, 8, zeros (1000, 0x55), {}, 3)),              formatError },
        { put ("16-bit-float.wav", makeWav (1, 44100, 16, zeros (2000, 0x55), {}, 3)),            formatError },
        { put ("24-bit-float.wav", makeWav (1, 44100, 24, zeros (3000, 0x55), {}, 3)),            formatError },
        { put ("fifo.wav", {}),                                                                   formatError },

        // Faults inside the framework's decoders (mended by cmake/juce-patches).
        { put ("bext-claims-4-GiB.wav", makeWav (1, 44100, 16, zeros (4096), {}, 1, {}, chunk ("bext", zeros (64, 1), 0xfffffff0))), formatError },
        { put ("inst-claims-4-GiB.aiff", makeAiff (1, 2048, 16, zeros (4096), {}, chunk ("INST", zeros (20, 1), 0xfffffff0, true))), accepted },
        { put ("channel-mask-bit-31.wav", makeWav (1, 44100, 16, zeros (4096), {}, 0xfffe, extensiblePcm (0x80000000))), accepted },
        { put ("200-channels-mask-0.wav", makeWav (200, 44100, 16, zeros (4000), {}, 0xfffe, extensiblePcm (0))),        accepted },
        { put ("8-channels-in-2.flac", flacEightChannelsInTwo),                                   accepted },
        { put ("istereo-past-the-band.mp3", { 0xff, 0xfb, 0xe6, 0x5d, 0, 0, 0x60, 0x70, 0, 0xaf, 0x33, 0x98, 0x4f, 0x4f }), formatError },
        { put ("rolls-back-too-far.mp3", mp3RollingBackTooFar),                                   accepted },
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
            EXPECT_EQ (bytesOf (getTemporaryWavFile()), bytesOf (row.input));
        else if (row.expect == converted)
            expectSines (row.rate, row.bits, row.channels, row.input == loud ? 1.5f : 0.5f, row.input.hasFileExtension ("ogg;mp3") ? 4608 : 0);

        // The size told before anything is written is the size of the file written.
        const auto written = getTemporaryWavFile().getSize();
        EXPECT_EQ (convert (written - 1).size, written);
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }
}

TEST_F (AudioConversionTest, TemporaryFileLiesInAFolderOnlyItsUserCanEnter)
{
    const auto input = sines ("in.wav", 16);
    const auto folder = scratch.getChildFile ("quendrix-" + juce::String ((int) ::geteuid()));
    const auto path = folder.getFullPathName().toStdString();
    const auto elsewhere = scratch.getChildFile ("elsewhere");
    const auto convert = [&] { return convertToDeviceWav (input.getFullPathName(), 48000.0, 16, 2, 1 << 29).outcome; };

    // Made by the program (0), or of this user's with looser permissions: set to 0700, and used.
    for (const mode_t mode : { 0, 0755, 02755, 0500 })
    {
        ASSERT_TRUE (folder.deleteRecursively() && (mode == 0 || (folder.createDirectory().wasOk() && ::chmod (path.c_str(), mode) == 0)));
        EXPECT_EQ (convert(), ConversionResult::converted);
        struct stat info {};
        EXPECT_TRUE (::lstat (path.c_str(), &info) == 0 && (info.st_mode & 07777) == 0700) << mode;
        EXPECT_TRUE (folder.getChildFile ("brevomatic_tmp.wav").existsAsFile());
    }

    // Whoever else controls the folder could swap the file before it is sent. Giving it away needs root.
    ASSERT_TRUE (folder.deleteRecursively() && elsewhere.createDirectory().wasOk() && elsewhere.createSymbolicLink (folder, false));
    EXPECT_EQ (convert(), ConversionResult::refused);
    EXPECT_FALSE (elsewhere.getChildFile ("brevomatic_tmp.wav").exists());

    if (::geteuid() == 0)
    {
        ASSERT_TRUE (folder.deleteFile() && folder.createDirectory().wasOk() && ::chown (path.c_str(), 65534, 65534) == 0);
        EXPECT_EQ (convert(), ConversionResult::refused);
    }
}
