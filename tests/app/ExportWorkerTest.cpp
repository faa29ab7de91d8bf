#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

using ExportWorker = TransferFixture;

namespace
{
constexpr int chunk = 4096;
}

TEST_F (ExportWorker, ProgressCountsTheChunksBeforeEachTransferAndALateOneEndsItKeepingWhatArrived)
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
        const auto commands = firmware().getCommands().size();
        startExport (target);

        // While the transfer waits, the chunks before it are counted and the target starts anew.
        // Nothing was sent before the chunk that came late the first time.
        ASSERT_TRUE (waitFor ([&] { return firmware().getCommands().size() == commands + 3 && pedal->countPendingUrbs() > 0
                                           && firmware().getSentChunkSizes().size() == (size_t) late; }));
        EXPECT_EQ (progress(), before);
        EXPECT_EQ (target.getSize(), 0);

        expectEnding ("Error Code fffffff9", "Export Error", "Error Code fffffff9");
        EXPECT_EQ (progress(), 100.0f);
        EXPECT_EQ (bytesOf (target), Bytes (phrase.begin(), phrase.begin() + late * chunk));
    }
}

TEST_F (ExportWorker, TargetOrMemoryThatCannotTakeThePhraseIsAFailureAfterReadingItWhole)
{
    const auto target = scratchFile ("phrase.wav");
    ASSERT_TRUE (target.replaceWithText ("old"));

    // The pedal copies the phrase it sends: the limit leaves room for that copy and the worker's
    // thread, not for the export's. Once announced, the phrase is read whole before the failure
    // is told, or the pedal would answer the next command with the rest. Larger than the
    // allocator's largest heap, so that it cannot come from memory the process holds already.
    constexpr size_t phraseSize = 72u << 20;
    firmware().setPhrase (0, Bytes (phraseSize));
    setWaveInfo ([] (auto& info) { info.transferChunkSize = 1u << 16; });

    {
        const auto limit = ScopedProcessLimit::addressSpace (phraseSize + (24u << 20));
        startExport (target);
        ASSERT_TRUE (waitForWorkerEnd (60000));
    }

    expectEnding ("Error Code fffffff5", "Export Error", "Error Code fffffff5");
    EXPECT_EQ (target.loadFileAsString(), "old");
    EXPECT_EQ (firmware().getSentChunkSizes(), std::vector<int> (phraseSize >> 16, 1 << 16));

    // A phrase that fits the file's buffer reaches the system only at the flush, whose short
    // write nobody reports: only the file's size tells.
    firmware().setPhrase (0, pattern (12000));
    const auto limit = ScopedProcessLimit::fileSize (10000);
    startExport (target);
    expectEnding ("Export fail", "Export Error", "The file could not be written in full");
}

//==============================================================================
/** A pedal whose only configuration has no interface to claim. */
struct TransfersWithoutInterface : public TransferFixture
{
    TransfersWithoutInterface()     { pedalDescription.configurations = { { 1, {} } }; }
};

TEST_F (TransfersWithoutInterface, AreFailuresThatTouchNeitherFile)
{
    const auto file = scratchFile ("phrase.wav");
    ASSERT_TRUE (file.replaceWithText ("old"));

    startExport (file);
    expectEnding ("Export fail");
    startImport (file);
    expectEnding ("Import Error", "open usb device error");
    EXPECT_EQ (file.loadFileAsString(), "old");
}
