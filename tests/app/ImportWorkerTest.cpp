#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include "AudioConversion.h"

#include <malloc.h>

using Fault = PedalFirmware::DataFault;

namespace
{
constexpr juce::uint32 readPhraseCode = 3;
constexpr int chunk = 4096;

/** The allocator fills what malloc hands out (calloc still zeroes). */
struct ScopedMallocFill
{
    ScopedMallocFill()      { mallopt (M_PERTURB, 0x5a); }
    ~ScopedMallocFill()     { mallopt (M_PERTURB, 0); }
};
}

class ImportWorker : public TransferFixture
{
protected:
    /** Waits for the import's end, which told this alert, sent nothing and left no copy. */
    void expectRefused (const juce::String& title, const juce::String& message)
    {
        expectEnding ("Import Error", title, message);
        EXPECT_TRUE (firmware().getPhrase (0).empty());
        EXPECT_FALSE (getTemporaryWavFile().exists());
    }
};

TEST_F (ImportWorker, PhrasesGoBothWaysByteForByteInChunks)
{
    // Fresh memory is often zero by chance: have the allocator hand out filled memory instead
    // (the address sanitizer fills the first 4096 bytes of each block by itself).
    const ScopedMallocFill fill;
    const auto target = scratchFile ("phrase.wav");

    // A chunk that moves fewer bytes (-1: none), into the pedal, then out of it. The import's
    // progress ends where its last chunk started; the export counts a short last chunk in full,
    // the bytes it did not deliver zero.
    const struct
    {
        const char* what;
        int slot;
        juce::uint32 size;
        int shortChunk, shortBytes;
        std::vector<int> imported, exported;
        float progress;
        size_t zeroFrom;
    } cases[] {
        { "several chunks",   5, 3 * chunk + 3000, -1, 0,  { chunk, chunk, chunk, 3000 }, { chunk, chunk, chunk, 3000 },
                              (float) (3.0 * chunk * 100 / (3 * chunk + 3000)), 3 * chunk + 3000 },
        { "empty slot list", -1, 1000, -1, 0,              { 1000 }, { 1000 }, 0.0f, 1000 },
        { "short full chunk", 0, 2 * chunk, 1, 1000,       { chunk, 1000, chunk - 1000 }, { chunk, 1000, chunk - 1000 },
                              (float) ((chunk + 1000.0) * 100 / (2 * chunk)), 2 * chunk },
        { "short last chunk", 0, 3000, 0, 100,             { 100, 2900 }, { 100 }, (float) (100.0 * 100 / 3000), 100 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto input = writeWav ("take.wav", c.size);
        const auto shorten = [&] { if (c.shortChunk >= 0) firmware().shortenDataChunk (c.shortChunk, c.shortBytes); };

        shorten();
        startImport (input, c.slot);
        expectEnding ("Import successful");
        EXPECT_EQ (firmware().getPhrase ((juce::uint32) c.slot), bytesOf (input));
        EXPECT_EQ (chunksSinceStart (false), c.imported);
        EXPECT_FLOAT_EQ (progress(), c.progress);

        // Longer than the phrase: no tail of it may survive.
        const auto old = pattern (100000, 99);
        ASSERT_TRUE (target.replaceWithData (old.data(), old.size()));
        shorten();
        startExport (target, c.slot);
        expectEnding ("Export successful");
        auto expected = bytesOf (input);
        std::fill (expected.begin() + (std::ptrdiff_t) c.zeroFrom, expected.end(), 0);
        EXPECT_EQ (bytesOf (target), expected);
        EXPECT_EQ (chunksSinceStart (true), c.exported);
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

    pedal->unplug();
    expectRefused ("Transfer Error", "Error Code fffffffc");
}

TEST_F (ImportWorker, FailuresAreToldByEitherWorkerAndLoseNothing)
{
    const auto take = writeWav ("take.wav", 3 * chunk);
    const auto missing = scratchFile ("missing.wav"), notASound = scratchFile ("notes.wav");
    ASSERT_TRUE (notASound.replaceWithText ("not a sound at all"));
    const auto target = scratchFile ("phrase.wav");
    const auto oldBytes = pattern (100, 99);
    const auto phrase = pattern (3 * chunk);

    using Info = PedalFirmware::WaveInfo;
    auto& f = firmware();
    const auto info = [this] (void (*change) (Info&)) { return [this, change] { setWaveInfo (change); }; };
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
        { "12 bits",        info ([] (Info& i) { i.sampleBits = 12; }),            nullptr,              false, -1, readInfoError, "" },
        { "missing input",      [] {}, nullptr, false, -1, "Input file", "file not exists", &missing },
        { "not a sound",        [] {}, nullptr, false, -1, "Audio Format", "Format error ,check you input file", &notASound },
        // With a phrase stored the simulated pedal would stream it in place of the withheld answer.
        { "read phrase times out",   [&] { f.setPhrase (1, {}); f.withholdNextReply (readPhraseCode); }, "Error Code fffffff9", true, -1, nullptr, "" },
        { "read phrase of 12 bytes", [&] { f.setNextReplyLength (readPhraseCode, 12); },  "Export fail",        false, -1, nullptr, "" },
        { "phrase size 0",           [&] { f.setPhrase (1, {}); },                        "Exporting",          false, -1, nullptr, "" },
        // A pedal that takes or delivers nothing would otherwise hold the worker forever.
        { "stall",                   [&] { f.failDataChunk (1, Fault::stall); },          "Error Code fffffff7", true, chunk, "Transfer Error", "Error Code fffffff7" },
        { "nothing moved",           [&] { f.shortenDataChunk (1, 0); },                  "Export fail",        false, chunk, "Transfer Error", "Error Code ffffffff" },
        { "unplugged during the data", [&] { f.failDataChunk (1, Fault::unplug); },       "Error Code fffffffc", true, chunk, nullptr, "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        f.setWaveInfo ({});

        // A pedal still waiting for bytes would take the next command as data.
        if (c.exported != nullptr)
        {
            f.powerCycled();
            ASSERT_TRUE (target.replaceWithData (oldBytes.data(), oldBytes.size()));
            f.setPhrase (1, phrase);
            c.arm();
            startExport (target, 1);
            expectEnding (c.exported, c.alert ? "Export Error" : "", c.exported);
            EXPECT_EQ (bytesOf (target), c.kept < 0 ? oldBytes : std::vector<juce::uint8> (phrase.begin(), phrase.begin() + c.kept));
        }

        if (c.imported != nullptr)
        {
            f.powerCycled();
            c.arm();
            startImport (c.input != nullptr ? *c.input : take);
            expectRefused (c.imported, c.message);
        }
    }
}

TEST_F (ImportWorker, FileAtTheLimitIsSentAndAnyLargerIsToldBeforeAnythingIsWritten)
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

    // 44 bytes whose data chunk claims 4 GiB of 16-bit mono: 4.3 GB at the 44100 Hz, 8-bit stereo
    // above. Nothing near that may be written.
    const auto claims = scratchFile ("claims.wav");
    const auto header = wavHeader (1, 44100, 16, 0xffffffffu);
    ASSERT_TRUE (claims.replaceWithData (header.getData(), header.getSize()));

    {
        const auto limit = ScopedProcessLimit::fileSize (64 << 20);
        startImport (claims);
        ASSERT_TRUE (waitForWorkerEnd());
    }

    expectRefused ("Input audio file size is too large", "After decode to wave format.\nFile size is 4.295 GB ,larger than 5.000 KB.\n"
                                                         "You should reduce the length of the audio file.");

    // A sparse file: only its header is ever written to disk by the test.
    constexpr juce::uint32 longSize = 384u << 20;
    const auto longTake = scratchFile ("long.wav");

    {
        juce::FileOutputStream out (longTake);
        ASSERT_TRUE (out.write (wavHeader (2, 44100, 16, longSize - 44).getData(), 44));
        ASSERT_TRUE (out.setPosition (longSize - 1));
        ASSERT_TRUE (out.writeByte (0));
    }

    setWaveInfo ([] (auto& info) { info.maxLength = 0x0fffffffu; });

    {
        const auto limit = ScopedProcessLimit::addressSpace (256u << 20);
        startImport (longTake);
        ASSERT_TRUE (waitForWorkerEnd());
    }

    expectRefused ("Transfer Error", "Error Code fffffff5");
}

//==============================================================================
/** A pedal that lists other endpoints before 0x01 and 0x81, and talks on those two. */
class TransfersWithSeveralEndpoints : public ImportWorker
{
protected:
    UsbDeviceDescription describePedal() const override     { return UsbDeviceDescription::withEndpoints ({ 0x02, 0x82, 0x01, 0x81 }); }
};

TEST_F (TransfersWithSeveralEndpoints, ImportTalksOnTheDefaultEndpoints)
{
    const auto input = writeWav ("take.wav", 2000);
    startImport (input);
    expectEnding ("Import successful");
    EXPECT_EQ (firmware().getPhrase (0), bytesOf (input));
}
