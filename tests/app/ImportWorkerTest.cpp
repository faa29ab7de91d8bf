#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include "AudioConversion.h"

using Fault = PedalFirmware::DataFault;

namespace
{
constexpr juce::uint32 readPhraseCode = 3;
constexpr int chunk = 4096;
constexpr int wavHeaderSize = 44;

/** A plain 44-byte PCM header; the framework's writer makes the same one. */
juce::MemoryBlock wavHeader (int channels, int rate, int bits, juce::uint32 dataSize)
{
    juce::MemoryOutputStream out;
    out.write ("RIFF", 4);
    out.writeInt ((int) (dataSize + 36));
    out.write ("WAVEfmt ", 8);
    out.writeInt (16);
    out.writeShort (1);
    out.writeShort ((short) channels);
    out.writeInt (rate);
    out.writeInt (rate * channels * bits / 8);
    out.writeShort ((short) (channels * bits / 8));
    out.writeShort ((short) bits);
    out.write ("data", 4);
    out.writeInt ((int) dataSize);
    return out.getMemoryBlock();
}
}

class ImportWorker : public TransferFixture
{
protected:
    /** A WAV file of noise with exactly this many bytes, in the given format. */
    juce::File writeWav (const juce::String& name, juce::uint32 totalSize, int channels = 2, int rate = 44100, int bits = 16)
    {
        const auto dataSize = totalSize - (juce::uint32) wavHeaderSize;
        auto bytes = wavHeader (channels, rate, bits, dataSize);
        const auto noise = pattern (dataSize, (int) totalSize);
        bytes.append (noise.data(), noise.size());

        const auto file = scratchFile (name);
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        return file;
    }

    /** Waits for the import's end, which told this alert, sent nothing and left no copy. */
    void expectRefused (const juce::String& title, const juce::String& message)
    {
        expectEnding ("Import Error", title, message);
        EXPECT_TRUE (firmware().getPhrase (0).empty());
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }
};

TEST_F (ImportWorker, FileInThePedalsFormatArrivesByteForByteInChunksAndItsCopyGoes)
{
    const struct
    {
        const char* what;
        int slot;
        juce::uint32 size;
        int shortChunk, shortBytes;     // a chunk that takes fewer bytes (-1: none)
        std::vector<int> chunks;
        float progress;                 // where the last chunk started: no 100 is written
    } cases[] {
        { "several chunks",     5, 3 * chunk + 3000, -1, 0,    { chunk, chunk, chunk, 3000 },        (float) (3.0 * chunk * 100.0 / (3 * chunk + 3000)) },
        { "empty slot list",   -1, 1000,             -1, 0,    { 1000 },                             0.0f },
        { "short chunk",        0, 3 * chunk,         1, 1000, { chunk, 1000, chunk, chunk - 1000 }, (float) ((2.0 * chunk + 1000) * 100.0 / (3 * chunk)) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto input = writeWav ("take.wav", c.size);

        if (c.shortChunk >= 0)
            firmware().shortenDataChunk (c.shortChunk, c.shortBytes);

        startImport (input, c.slot);
        expectEnding ("Import successful");

        EXPECT_EQ (firmware().getPhrase ((juce::uint32) c.slot), bytesOf (input));
        EXPECT_EQ (chunksSinceStart (false), c.chunks);
        EXPECT_FLOAT_EQ (progress(), c.progress);
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }
}

TEST_F (ImportWorker, PedalHasTheProgramsTimeToAnswer)
{
    useProgramTimeouts();
    const auto take = writeWav ("take.wav", chunk);
    const auto target = scratchFile ("phrase.wav");

    // Half a second too late for a command or an export's chunk: a longer wait would take the answer.
    firmware().delayNextReply (0, 1500);
    startImport (take);
    expectRefused ("Read info from device error", {});

    firmware().setPhrase (1, pattern (2 * chunk));
    firmware().delayDataChunk (1, 1500);
    startExport (target, 1);
    expectEnding ("Error Code fffffff9", "Export Error", "Error Code fffffff9");
    EXPECT_EQ (target.getSize(), chunk);

    // An import's chunk may take a minute: a few seconds in, it still waits.
    firmware().failDataChunk (0, Fault::timeOut);
    startImport (take);
    ASSERT_TRUE (waitForPendingChunk (0, false));
    EXPECT_FALSE (waitForWorkerEnd (2500));
    EXPECT_EQ (progressText(), "Importing to device");
    EXPECT_TRUE (getTemporaryWavFile().existsAsFile());

    pedal->unplug();
    expectRefused ("Transfer Error", "Error Code fffffffc");
}

TEST_F (ImportWorker, FailuresAreToldByEitherWorkerAndLoseNothing)
{
    const auto take = writeWav ("take.wav", 3 * chunk);
    const auto missing = scratchFile ("missing.wav"), folder = scratchFile ({}), notASound = scratchFile ("notes.wav");
    ASSERT_TRUE (notASound.replaceWithText ("not a sound at all"));
    const auto target = scratchFile ("phrase.wav");
    const auto oldBytes = pattern (100, 99);
    const auto phrase = pattern (3 * chunk);

    using Info = PedalFirmware::WaveInfo;
    auto& f = firmware();
    const auto info = [this] (void (*change) (Info&)) { return [this, change] { setWaveInfo (change); }; };
    const auto none = [] {};
    const char* readInfoError = "Read info from device error";

    // The export's text and alert (nullptr: not exported; the label keeps the start's text where
    // the export adds none), the bytes of the phrase it keeps (-1: the old target untouched), and
    // the import's alert (nullptr: not imported) for the same fault.
    const struct
    {
        const char* what;
        std::function<void()> arm;
        const char* exported;
        bool alert;
        int kept;
        const char* imported;
        const char* message;
        const juce::File* input = nullptr;     // the take by default
    } cases[] {
        { "device information empty",       [&] { f.setNextReplyLength (0, 0); },  "Exporting",          false, -1, readInfoError, "" },
        { "device information times out",   [&] { f.withholdNextReply (0); },      "Error Code fffffff9", true, -1, readInfoError, "" },
        { "wave information of 23 bytes",   [&] { f.setNextReplyLength (1, 23); }, "Exporting",          false, -1, readInfoError, "" },
        { "wave information of 25 bytes",   [&] { f.setNextReplyLength (1, 25); }, "Exporting",          false, -1, readInfoError, "" },
        { "wave information times out",     [&] { f.withholdNextReply (1); },      "Error Code fffffff9", true, -1, readInfoError, "" },
        { "chunk size 0",   info ([] (Info& i) { i.transferChunkSize = 0; }),      "Export fail",        false, -1, readInfoError, "" },
        { "sample rate 0",  info ([] (Info& i) { i.sampleRateHz = 0; }),           nullptr,              false, -1, readInfoError, "" },
        { "no channels",    info ([] (Info& i) { i.channelCount = 0; }),           nullptr,              false, -1, readInfoError, "" },
        { "length limit 0", info ([] (Info& i) { i.maxLength = 0; }),              nullptr,              false, -1, readInfoError, "" },
        { "0 bits",         info ([] (Info& i) { i.sampleBits = 0; }),             nullptr,              false, -1, readInfoError, "" },
        { "12 bits",        info ([] (Info& i) { i.sampleBits = 12; }),            nullptr,              false, -1, readInfoError, "" },
        { "missing input",      none, nullptr, false, -1, "Input file", "file not exists", &missing },
        { "folder as input",    none, nullptr, false, -1, "Input file", "file not exists", &folder },
        { "not a sound",        none, nullptr, false, -1, "Audio Format", "Format error ,check you input file", &notASound },
        // With a phrase stored the simulated pedal would stream it in place of the withheld answer.
        { "read phrase times out",   [&] { f.setPhrase (1, {}); f.withholdNextReply (readPhraseCode); }, "Error Code fffffff9", true, -1, nullptr, "" },
        { "read phrase of 12 bytes", [&] { f.setNextReplyLength (readPhraseCode, 12); },  "Export fail",        false, -1, nullptr, "" },
        { "phrase size 0",           [&] { f.setPhrase (1, {}); },                        "Exporting",          false, -1, nullptr, "" },
        // A pedal that takes or delivers nothing would otherwise hold the worker forever.
        { "stall",                   [&] { f.failDataChunk (1, Fault::stall); },          "Error Code fffffff7", true, chunk, "Transfer Error", "Error Code fffffff7" },
        { "nothing moved",           [&] { f.shortenDataChunk (1, 0); },                  "Export fail",        false, chunk, "Transfer Error", "Error Code ffffffff" },
        { "unplugged during the data", [&] { f.failDataChunk (1, Fault::unplug); },       "Error Code fffffffc", true, chunk, nullptr, "" },
        { "pedal gone",              none,                                                "Exporting",          false, -1, "open usb device error", "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        // A pedal still waiting for bytes would take the next command as data.
        if (c.exported != nullptr)
        {
            f.powerCycled();
            ASSERT_TRUE (target.replaceWithData (oldBytes.data(), oldBytes.size()));
            f.setWaveInfo ({});
            f.setPhrase (1, phrase);
            c.arm();
            startExport (target, 1);
            expectEnding (c.exported, c.alert ? "Export Error" : "", c.exported);
            EXPECT_EQ (bytesOf (target), c.kept < 0 ? oldBytes : std::vector<juce::uint8> (phrase.begin(), phrase.begin() + c.kept));
        }

        if (c.imported != nullptr)
        {
            f.powerCycled();
            f.setWaveInfo ({});
            c.arm();
            startImport (c.input != nullptr ? *c.input : take);
            expectRefused (c.imported, c.message);
        }
    }
}

TEST_F (ImportWorker, FileExactlyAtTheLimitIsSentAndOneByteMoreIsNot)
{
    // At 8 bits the limit is the length limit itself, so it can sit at any byte.
    const juce::uint32 size = 5001;
    const auto input = writeWav ("take.wav", size, 2, 44100, 8);

    setWaveInfo ([] (auto& info) { info.sampleBits = 8; info.maxLength = size; });
    startImport (input, 1);
    expectEnding ("Import successful");
    EXPECT_EQ (firmware().getPhrase (1), bytesOf (input));

    setWaveInfo ([] (auto& info) { info.sampleBits = 8; info.maxLength = size - 1; });
    startImport (input);
    expectRefused ("Input audio file size is too large", "After decode to wave format.\nFile size is 5.001 KB ,larger than 5.000 KB.\n"
                                                         "You should reduce the length of the audio file.");
}

TEST_F (ImportWorker, FilesTooLargeForThePedalOrForMemoryAreToldBeforeAnythingIsWritten)
{
    // 44 bytes whose data chunk claims 4 GiB of 16-bit mono: 8.6 GB at the pedal's 44100 Hz,
    // 16-bit stereo. Nothing near that may be written.
    const auto claims = scratchFile ("claims.wav");
    const auto header = wavHeader (1, 44100, 16, 0xffffffffu);
    ASSERT_TRUE (claims.replaceWithData (header.getData(), header.getSize()));

    {
        const auto limit = ScopedProcessLimit::fileSize (64 << 20);
        startImport (claims);
        ASSERT_TRUE (waitForWorkerEnd());
    }

    expectRefused ("Input audio file size is too large", "After decode to wave format.\nFile size is 8.590 GB ,larger than 10.58 MB.\n"
                                                         "You should reduce the length of the audio file.");

    // A sparse file: only its header is ever written to disk by the test.
    constexpr juce::uint32 size = 384u << 20;
    const auto longTake = scratchFile ("long.wav");

    {
        juce::FileOutputStream out (longTake);
        ASSERT_TRUE (out.write (wavHeader (2, 44100, 16, size - wavHeaderSize).getData(), wavHeaderSize));
        ASSERT_TRUE (out.setPosition (size - 1));
        ASSERT_TRUE (out.writeByte (0));
    }

    setWaveInfo ([] (auto& info) { info.maxLength = 0x0fffffffu; });

    {
        const auto limit = ScopedProcessLimit::addressSpace (256u << 20);
        startImport (longTake);
        ASSERT_TRUE (waitForWorkerEnd());
    }

    expectRefused ("Transfer Error", "Error Code fffffff5");}

//==============================================================================
/** A pedal that lists other endpoints before 0x01 and 0x81, and talks on those two. */
class TransfersWithSeveralEndpoints : public ImportWorker
{
protected:
    UsbDeviceDescription describePedal() const override
    {
        return UsbDeviceDescription::withEndpoints ({ 0x02, 0x82, 0x01, 0x81 });
    }
};

TEST_F (TransfersWithSeveralEndpoints, ImportTalksOnTheDefaultEndpoints)
{
    const auto input = writeWav ("take.wav", 2000);
    startImport (input);
    expectEnding ("Import successful");
    EXPECT_EQ (firmware().getPhrase (0), bytesOf (input));
}
