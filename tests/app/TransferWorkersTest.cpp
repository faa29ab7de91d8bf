#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include <malloc.h>
#include <optional>

constexpr int chunk = 4096;     // the pedal's transfer chunk unless a test sets another

/** Transfers both ways, with the pedal's usual endpoints. */
using Transfers = TransferFixture;

TEST_F (Transfers, PhrasesAtTheLimitGoBothWaysByteForByteInChunks)
{
    const auto input = writeWav ("take.wav", 1000);
    const auto size = (int) input.getSize();
    const auto target = scratchFile ("phrase.wav");

    // The whole file is one chunk, and the most the pedal takes. The first transfer moves 1000
    // bytes, the next 100 though the rest is asked for. The import sends the rest again and its
    // progress ends where its last chunk started; the export counts the short last chunk in
    // full, the bytes it did not deliver zero.
    setWaveInfo ([size] (auto& info) { info.transferChunkSize = (juce::uint32) size; info.maxLength = (juce::uint32) size / 2; });
    firmware().shortenDataChunk (0, 1000);
    firmware().shortenDataChunk (1, 100);
    startImport (input, 5);
    expectEnding ("Import successful");
    EXPECT_EQ (firmware().getPhrase (5), bytesOf (input));
    EXPECT_FLOAT_EQ (access->progressValue().load(), 1100.0f * 100 / (float) size);

    // Fresh memory is often zero by chance: the allocator fills it (the address sanitizer fills
    // the first 4096 bytes of each block by itself).
    mallopt (M_PERTURB, 0x5a);
    firmware().shortenDataChunk (0, 1000);
    firmware().shortenDataChunk (1, 100);
    startExport (target, 5);
    expectEnding ("Export successful");
    mallopt (M_PERTURB, 0);

    auto expected = bytesOf (input);
    std::fill (expected.begin() + 1100, expected.end(), 0);
    EXPECT_EQ (bytesOf (target), expected);
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
    std::optional<juce::KuvLibUSB_Device> otherProgram;

    // One fault, armed before each worker: the export's text (an error code comes with an alert),
    // the bytes of the phrase it keeps (-1: the old target untouched), and the import's alert
    // (none: it succeeds).
    const struct
    {
        const char* what;
        std::function<void()> arm;
        const char* exported;
        int kept;
        juce::String imported, message = {};
        const juce::File* input = nullptr;     // the take by default
    } cases[] {
        { "device information empty", [&] { f.setNextReplyLength (0, 0); }, "Exporting", -1, readInfoError },
        // Half a second later than the program waits: a longer wait would take the answer.
        { "device information late",  [&] { f.delayNextReply (0, 1500); }, "Error Code fffffff9", -1, readInfoError },
        { "wave information of 25 bytes", [&] { f.setNextReplyLength (1, 25); }, "Exporting", -1, readInfoError },
        { "chunk size 0", [&] { setWaveInfo ([] (auto& i) { i.transferChunkSize = 0; }); }, "Export fail", -1, readInfoError },
        { "12 bits",      [&] { setWaveInfo ([] (auto& i) { i.sampleBits = 12; }); }, "Export successful", 3 * chunk, readInfoError },
        { "missing input", [] {}, "Export successful", 3 * chunk, "Input file", "file not exists", &missing },
        { "not a sound",   [] {}, "Export successful", 3 * chunk, "Audio Format", "Format error ,check you input file", &notASound },
        { "phrase size 0", [&] { f.setPhrase (1, {}); }, "Exporting", -1, {} },
        // A pedal that takes or delivers nothing would otherwise hold the worker forever; the
        // pedal still waits for the rest of the import then, so that only a row that never
        // reaches it may follow.
        { "nothing moved", [&] { f.shortenDataChunk (1, 0); }, "Export fail", chunk, "Transfer Error", "Error Code ffffffff" },
        { "held by another program", [&] { EXPECT_TRUE (otherProgram.emplace().open (PedalProtocol::pedalVendorId, PedalProtocol::pedalProductId, 0xff, 0xff)
                                                        && otherProgram->selectAlterate()); }, "Export fail", -1, "open usb device error" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        f.setWaveInfo ({});
        f.setPhrase (1, phrase);
        ASSERT_TRUE (target.replaceWithData (oldBytes.data(), oldBytes.size()));
        c.arm();
        startExport (target, 1);
        const juce::String text (c.exported);
        expectEnding (text, text.startsWith ("Error Code") ? "Export Error" : "", text);
        EXPECT_EQ (bytesOf (target), c.kept < 0 ? oldBytes : Bytes (phrase.begin(), phrase.begin() + c.kept));

        c.arm();
        startImport (c.input != nullptr ? *c.input : take);
        expectEnding (c.imported.isEmpty() ? "Import successful" : "Import Error", c.imported, c.message);
    }
}

TEST_F (Transfers, ExportProgressCountsTheChunksBeforeEachTransferAndALateOneEndsItKeepingWhatArrived)
{
    const auto phrase = pattern (4 * chunk);
    const auto target = scratchFile ("phrase.wav");

    // Half a second later than the program waits for a chunk: a longer wait would take it.
    for (auto [late, before] : { std::pair { 0, 0.0f }, { 2, 25.0f } })
    {
        ASSERT_TRUE (target.replaceWithText ("old"));
        firmware().setPhrase (0, phrase);
        firmware().delayDataChunk (late, 1500);
        access->progressValue() = -2.0f;   // as the timer leaves it
        startExport (target);

        // Nothing was sent before the first late chunk.
        ASSERT_TRUE (waitFor ([&] { return firmware().getSentChunkSizes().size() == (size_t) late && pedal->countPendingUrbs() > 0
                                           && access->progressValue().load() == before; }));
        expectEnding ("Error Code fffffff9", "Export Error", "Error Code fffffff9");
        EXPECT_EQ (access->progressValue().load(), 100.0f);
        EXPECT_EQ (bytesOf (target), Bytes (phrase.begin(), phrase.begin() + late * chunk));
    }
}

TEST_F (Transfers, ExportTargetOrMemoryThatCannotTakeThePhraseIsAFailureAfterReadingItWhole)
{
    // The pedal copies the phrase it sends: the limit leaves room for that copy, the worker's
    // thread and an allocator's heap for that thread, not for the export's copy. Once announced,
    // the phrase is read whole before the failure is told, or the pedal would answer the next
    // command with the rest.
    constexpr size_t size = 128u << 20;
    firmware().setPhrase (0, Bytes (size));
    setWaveInfo ([] (auto& info) { info.transferChunkSize = 1u << 16; });

    {
        const auto limit = ScopedProcessLimit::addressSpace (size + (96u << 20));
        startExport (scratchFile ("phrase.wav"));
        expectEnding ("Error Code fffffff5", "Export Error", "Error Code fffffff5");
    }

    EXPECT_EQ (firmware().getSentChunkSizes(), std::vector<int> (size >> 16, 1 << 16));

    // Nor can a target in a missing folder.
    firmware().setPhrase (0, pattern (4u << 16));
    startExport (scratchFile ("missing").getChildFile ("phrase.wav"));
    expectEnding ("Export fail", "Export Error", "No such file or directory");
    EXPECT_EQ (firmware().getSentChunkSizes().size(), (size >> 16) + 4);

    // A phrase that fits the file's buffer reaches the system only at the flush, whose short
    // write nobody reports: only the file's size tells.
    firmware().setPhrase (0, pattern (12000));
    const auto limit = ScopedProcessLimit::fileSize (10000);
    startExport (scratchFile ("phrase.wav"));
    expectEnding ("Export fail", "Export Error", "The file could not be written in full");
}

//==============================================================================
/** Imports to a pedal that lists other endpoints before 0x01 and 0x81, and talks on those two. */
struct ImportWorker : public TransferFixture
{
    ImportWorker()  { pedalDescription = UsbDeviceDescription::withEndpoints ({ 0x02, 0x82, 0x01, 0x81 }); }
};

TEST_F (ImportWorker, WaitsAMinuteForAChunk)
{
    firmware().failDataChunk (0, PedalFirmware::DataFault::timeOut);
    startImport (writeWav ("take.wav", 1000));

    // A few seconds in, it still waits.
    ASSERT_TRUE (waitFor ([this] { return access->pendingProgressText() == "Importing to device" && pedal->countPendingUrbs() > 0; }));
    EXPECT_FALSE (waitForWorkerEnd (2500));

    pedal->unplug();
    expectEnding ("Import Error", "Transfer Error", "Error Code fffffffc");
}

TEST_F (ImportWorker, FileThatMemoryOrThePedalCannotTakeIsTold)
{
    // Larger than the allocator's largest heap, so that it cannot come from memory the process
    // holds already: a transfer error, not a format error.
    constexpr size_t size = 96u << 20;
    const auto take = writeWav ("long.wav", 0);
    ASSERT_TRUE (take.appendData (Bytes (size).data(), size));
    setWaveInfo ([] (auto& info) { info.maxLength = 0x0fffffffu; });

    {
        const auto limit = ScopedProcessLimit::addressSpace (size / 2);
        startImport (take);
        expectEnding ("Import Error", "Transfer Error", "Error Code fffffff5");
    }

    // Converted to stereo, twice the bytes: too large, and nothing of it may be written.
    setWaveInfo ([] (auto& info) { info.maxLength = 2000; });
    const auto limit = ScopedProcessLimit::fileSize (4000);
    startImport (writeWav ("mono.wav", 1000, 1));
    expectEnding ("Import Error", "Input audio file size is too large",
                  "After decode to wave format.\nFile size is 4.104 KB ,larger than 4.000 KB.\nYou should reduce the length of the audio file.");
}
