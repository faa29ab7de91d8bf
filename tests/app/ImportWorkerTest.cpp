#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include <malloc.h>

namespace
{
constexpr int chunk = 4096;
}

/** Transfers both ways, with the pedal's usual endpoints. */
using Transfers = TransferFixture;

TEST_F (Transfers, PhrasesGoBothWaysByteForByteInChunks)
{
    const auto input = writeWav ("take.wav", 1000);
    const auto size = (int) input.getSize();
    const auto target = scratchFile ("phrase.wav");
    ASSERT_TRUE (target.replaceWithText ("an old phrase, longer than none"));

    // One chunk of the whole file, whose transfer moves 1000 bytes, the next 100 though the rest
    // is asked for. The import sends the rest again and its progress ends where its last chunk
    // started; the export counts the short last chunk in full, the bytes it did not deliver zero.
    setWaveInfo ([size] (auto& info) { info.transferChunkSize = (juce::uint32) size; });
    const auto shorten = [this] { firmware().shortenDataChunk (0, 1000); firmware().shortenDataChunk (1, 100); };
    shorten();
    startImport (input, 5);
    expectEnding ("Import successful");
    EXPECT_EQ (firmware().getPhrase (5), bytesOf (input));
    EXPECT_EQ (firmware().getReceivedChunkSizes(), (std::vector<int> { 1000, 100, size - 1100 }));
    EXPECT_FLOAT_EQ (progress(), 1100.0f * 100 / (float) size);

    // Fresh memory is often zero by chance: the allocator fills it (the address sanitizer fills
    // the first 4096 bytes of each block by itself).
    mallopt (M_PERTURB, 0x5a);
    shorten();
    startExport (target, 5);
    expectEnding ("Export successful");
    mallopt (M_PERTURB, 0);

    auto expected = bytesOf (input);
    std::fill (expected.begin() + 1100, expected.end(), 0);
    EXPECT_EQ (bytesOf (target), expected);
    EXPECT_EQ (firmware().getSentChunkSizes(), (std::vector<int> { 1000, 100 }));
}

TEST_F (Transfers, FailuresAreToldByEitherWorkerAndLoseNothing)
{
    const auto take = writeWav ("take.wav", 3000);
    const auto missing = scratchFile ("missing.wav"), notASound = scratchFile ("notes.wav");
    ASSERT_TRUE (notASound.replaceWithText ("not a sound at all"));
    const auto target = scratchFile ("phrase.wav");
    const auto oldBytes = pattern (100, 99), phrase = pattern (3 * chunk);
    const auto readInfoError = "Read info from device error";
    auto& f = firmware();

    // The export's text (nullptr: not exported; an error code comes with an alert), the bytes of
    // the phrase it keeps (-1: the old target untouched), and the import's alert (nullptr: not
    // imported) for the same fault.
    const struct
    {
        const char* what;
        std::function<void()> arm;
        const char* exported;
        int kept;
        const char* imported;
        const char* message = "";
        const juce::File* input = nullptr;     // the take by default
    } cases[] {
        { "device information empty", [&] { f.setNextReplyLength (0, 0); }, "Exporting", -1, readInfoError },
        // Half a second later than the program waits: a longer wait would take the answer.
        { "device information late",  [&] { f.delayNextReply (0, 1500); }, "Error Code fffffff9", -1, readInfoError },
        { "wave information of 25 bytes", [&] { f.setNextReplyLength (1, 25); }, "Exporting", -1, readInfoError },
        { "chunk size 0", [&] { setWaveInfo ([] (auto& i) { i.transferChunkSize = 0; }); }, "Export fail", -1, readInfoError },
        { "12 bits",      [&] { setWaveInfo ([] (auto& i) { i.sampleBits = 12; }); },       nullptr,       -1, readInfoError },
        { "missing input", [] {}, nullptr, -1, "Input file", "file not exists", &missing },
        { "not a sound",   [] {}, nullptr, -1, "Audio Format", "Format error ,check you input file", &notASound },
        { "phrase size 0", [&] { f.setPhrase (1, {}); }, "Exporting", -1, nullptr },
        // A pedal that takes or delivers nothing would otherwise hold the worker forever. Last:
        // the pedal still waits for the rest of the import.
        { "nothing moved", [&] { f.shortenDataChunk (1, 0); }, "Export fail", chunk, "Transfer Error", "Error Code ffffffff" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        f.setWaveInfo ({});

        if (c.exported != nullptr)
        {
            ASSERT_TRUE (target.replaceWithData (oldBytes.data(), oldBytes.size()));
            f.setPhrase (1, phrase);
            c.arm();
            startExport (target, 1);
            const juce::String text (c.exported);
            expectEnding (text, text.startsWith ("Error Code") ? "Export Error" : "", text);
            EXPECT_EQ (bytesOf (target), c.kept < 0 ? oldBytes : Bytes (phrase.begin(), phrase.begin() + c.kept));
        }

        if (c.imported != nullptr)
        {
            c.arm();
            startImport (c.input != nullptr ? *c.input : take);
            expectEnding ("Import Error", c.imported, c.message);
        }
    }
}

//==============================================================================
/** Imports to a pedal that lists other endpoints before 0x01 and 0x81, and talks on those two. */
struct ImportWorker : public TransferFixture
{
    ImportWorker()  { pedalDescription = UsbDeviceDescription::withEndpoints ({ 0x02, 0x82, 0x01, 0x81 }); }
};

TEST_F (ImportWorker, FileAtTheLimitIsSentAndAnyLargerOrUnheldIsTold)
{
    // At 8 bits the limit is the length limit itself.
    const auto input = writeWav ("take.wav", 2000, 2, 8);
    const auto size = (juce::uint32) input.getSize();
    setWaveInfo ([size] (auto& info) { info.sampleBits = 8; info.maxLength = size; });
    startImport (input, 1);
    expectEnding ("Import successful");
    EXPECT_EQ (firmware().getPhrase (1), bytesOf (input));

    // Converted to stereo, one frame more is too large; nothing of it may be written.
    const auto mono = writeWav ("mono.wav", 2001, 1, 8);

    {
        const auto limit = ScopedProcessLimit::fileSize (size);
        startImport (mono);
        ASSERT_TRUE (waitForWorkerEnd());
    }

    expectEnding ("Import Error", "Input audio file size is too large",
                  "After decode to wave format.\nFile size is 4.106 KB ,larger than 4.104 KB.\nYou should reduce the length of the audio file.");

    // A file that memory cannot hold is a transfer error, not a format error. Larger than the
    // allocator's largest heap, so that it cannot come from memory the process holds already.
    const auto longTake = writeWav ("long.wav", 0);

    {
        juce::FileOutputStream sparse (longTake);
        ASSERT_TRUE (sparse.setPosition (72 << 20) && sparse.writeByte (0));
    }

    setWaveInfo ([] (auto& info) { info.maxLength = 0x0fffffffu; });

    {
        const auto limit = ScopedProcessLimit::addressSpace (16u << 20);
        startImport (longTake);
        ASSERT_TRUE (waitForWorkerEnd());
    }

    expectEnding ("Import Error", "Transfer Error", "Error Code fffffff5");
}

TEST_F (ImportWorker, WaitsAMinuteForAChunk)
{
    firmware().failDataChunk (0, PedalFirmware::DataFault::timeOut);
    startImport (writeWav ("take.wav", 1000));

    // A few seconds in, it still waits.
    ASSERT_TRUE (waitFor ([this] { return pedal->countPendingUrbs() > 0 && firmware().getReceivedChunkSizes().empty()
                                          && progressText() == "Importing to device"; }));
    EXPECT_FALSE (waitForWorkerEnd (2500));

    pedal->unplug();
    expectEnding ("Import Error", "Transfer Error", "Error Code fffffffc");
}
