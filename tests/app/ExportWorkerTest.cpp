#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

using ExportWorker = TransferFixture;

namespace
{
constexpr int chunk = 4096;
}

TEST_F (ExportWorker, ProgressCountsTheChunksBeforeEachTransferAndATimeOutKeepsWhatArrived)
{
    PedalProtocol::timeouts().exportChunkMs = 600;
    const auto phrase = pattern (4 * chunk);
    const auto target = scratchFile ("phrase.wav");
    const float before[] = { 0.0f, 0.0f, 25.0f, 50.0f };

    for (int hanging = 0; hanging < 4; ++hanging)
    {
        SCOPED_TRACE (hanging);
        ASSERT_TRUE (target.replaceWithText ("old"));
        firmware().setPhrase (0, phrase);
        firmware().failDataChunk (hanging, PedalFirmware::DataFault::timeOut);
        access->progressValue() = -2.0f;   // as the timer leaves it

        startExport (target);

        // While the transfer hangs, the chunks before it are counted, the target starts anew, and
        // the timer takes the text the worker handed over.
        ASSERT_TRUE (waitForPendingChunk ((size_t) hanging, true));
        EXPECT_EQ (progress(), before[hanging]);
        EXPECT_EQ (target.getSize(), 0);
        access->tick();
        EXPECT_EQ (access->progressTextLabel().getText(), "Exporting");

        expectEnding ("Error Code fffffff9", "Export Error", "Error Code fffffff9");
        EXPECT_EQ (progress(), 100.0f);
        EXPECT_EQ (bytesOf (target), std::vector<juce::uint8> (phrase.begin(), phrase.begin() + hanging * chunk));
    }
}

TEST_F (ExportWorker, TargetOrMemoryThatCannotTakeThePhraseIsAFailureAfterReadingItWhole)
{
    const auto target = scratchFile ("phrase.wav");

    // A phrase that fits the file's buffer reaches the system only at the flush, whose short
    // write nobody reports: only the file's size tells.
    for (auto [size, reason] : { std::pair<size_t, const char*> { 64 * 1024, "File too large" },
                                 { 12000, "The file could not be written in full" } })
    {
        firmware().setPhrase (0, pattern (size));
        const auto limit = ScopedProcessLimit::fileSize (10000);
        startExport (target);
        expectEnding ("Export fail", "Export Error", reason);
    }

    // Once the pedal has announced the phrase it is read whole before the failure is told, or
    // the pedal would answer the next command with the rest.
    const auto folderless = scratchFile ("missing-folder").getChildFile ("phrase.wav");
    firmware().setPhrase (0, pattern (64 * 1024));
    startExport (folderless);
    expectEnding ("Export fail", "Export Error", "No such file or directory");
    EXPECT_EQ (chunksSinceStart (true), std::vector<int> (16, chunk));

    // The pedal keeps its own copy of the phrase while it sends it, so the limit leaves room
    // for that copy but not for the export's; and for what the sanitizer's quarantine holds of
    // the transfers' buffers.
    constexpr size_t phraseSize = 512u << 20;
    firmware().setPhrase (0, std::vector<juce::uint8> (phraseSize));
    setWaveInfo ([] (auto& info) { info.transferChunkSize = 1u << 20; });
    ASSERT_TRUE (target.replaceWithText ("old"));

    {
        const auto limit = ScopedProcessLimit::addressSpace (phraseSize + (384u << 20));
        startExport (target);

        // Half a gigabyte through the simulated pedal takes a while under the sanitizers.
        ASSERT_TRUE (waitForWorkerEnd (180000));
    }

    expectEnding ("Error Code fffffff5", "Export Error", "Error Code fffffff5");
    EXPECT_EQ (target.loadFileAsString(), "old");
    EXPECT_EQ (chunksSinceStart (true), std::vector<int> (512, 1 << 20));
}

//==============================================================================
class TransfersWithoutInterface : public TransferFixture
{
protected:
    UsbDeviceDescription describePedal() const override     { return pedalWithoutInterface(); }
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
