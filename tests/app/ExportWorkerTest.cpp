#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include <malloc.h>

using Fault = PedalFirmware::DataFault;

namespace
{
constexpr juce::uint32 readPhraseCode = 3;
constexpr int chunk = 4096;

/** What the user is left with after an export. */
struct Ending
{
    juce::String text;
    float progress = 0;
    std::vector<ShownAlert> alerts;
};

/** The allocator fills what malloc hands out (calloc still zeroes). */
struct ScopedMallocFill
{
    ScopedMallocFill()      { mallopt (M_PERTURB, 0x5a); }
    ~ScopedMallocFill()     { mallopt (M_PERTURB, 0); }
};

std::vector<juce::uint8> readPhraseCommand (juce::uint32 slot)
{
    return { 'C', 'M', 'D', 0, 3, 0, 0, 0,
             (juce::uint8) slot, (juce::uint8) (slot >> 8), (juce::uint8) (slot >> 16), (juce::uint8) (slot >> 24),
             0, 0, 0, 0 };
}
}

class ExportWorker : public TransferFixture
{
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        target = scratchFile ("phrase.wav");
    }

    Ending runExport (int slot = 0)
    {
        startExport (target, slot);
        EXPECT_TRUE (waitForWorkerEnd());
        return { progressText(), progress(), takeAlerts() };
    }

    /** An old file at the target, to tell whether the export touched it. */
    void putOldTarget()
    {
        oldBytes = pattern (100, 99);
        ASSERT_TRUE (target.replaceWithData (oldBytes.data(), oldBytes.size()));
    }

    void expectTargetUntouched() const
    {
        EXPECT_EQ (bytesOf (target), oldBytes);
    }

    static void expectErrorAlert (const Ending& ending, const juce::String& message)
    {
        ASSERT_EQ (ending.alerts.size(), 1u);
        EXPECT_EQ (ending.alerts[0].title, "Export Error");
        EXPECT_EQ (ending.alerts[0].message, message);
        EXPECT_EQ (ending.alerts[0].icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (ending.alerts[0].buttons, juce::StringArray ("OK"));
    }

    juce::File target;
    std::vector<juce::uint8> oldBytes;
};

TEST_F (ExportWorker, WritesThePhraseByteForByteOverAnOldFile)
{
    const auto phrase = pattern (3 * chunk + 1000);
    firmware().setPhrase (7, phrase);

    // Longer than the phrase: no tail of it may survive.
    const auto old = pattern (100000, 99);
    ASSERT_TRUE (target.replaceWithData (old.data(), old.size()));

    const auto ending = runExport (7);

    EXPECT_EQ (bytesOf (target), phrase);
    EXPECT_EQ (ending.text, "Export successful");
    EXPECT_EQ (ending.progress, 100.0f);
    EXPECT_TRUE (ending.alerts.empty());
    EXPECT_EQ (firmware().getSentChunkSizes(), (std::vector<int> { chunk, chunk, chunk, 1000 }));
    EXPECT_EQ (firmware().getCommands().back(), readPhraseCommand (7));
    EXPECT_EQ (access->waveInfo().transferChunkSize, (juce::uint32) chunk);
}

TEST_F (ExportWorker, PhraseSmallerThanAChunkTakesOneTransferOfItsSize)
{
    const auto phrase = pattern (10);
    firmware().setPhrase (0, phrase);

    EXPECT_EQ (runExport().text, "Export successful");
    EXPECT_EQ (bytesOf (target), phrase);
    EXPECT_EQ (firmware().getSentChunkSizes(), std::vector<int> { 10 });
}

TEST_F (ExportWorker, EmptySlotListSendsSlotWithAllBitsSet)
{
    const auto phrase = pattern (500);
    firmware().setPhrase (0xffffffffu, phrase);

    EXPECT_EQ (runExport (-1).text, "Export successful");
    EXPECT_EQ (firmware().getCommands().back(), readPhraseCommand (0xffffffffu));
    EXPECT_EQ (bytesOf (target), phrase);
}

TEST_F (ExportWorker, ShortFullChunkIsContinuedWhereItStopped)
{
    const auto phrase = pattern (3 * chunk);
    firmware().setPhrase (0, phrase);
    firmware().shortenDataChunk (1, 1000);

    EXPECT_EQ (runExport().text, "Export successful");
    EXPECT_EQ (bytesOf (target), phrase);
    EXPECT_EQ (firmware().getSentChunkSizes(), (std::vector<int> { chunk, 1000, chunk, chunk - 1000 }));
}

TEST_F (ExportWorker, ShortLastChunkFillsTheFileWithZerosNotOldMemory)
{
    // Fresh memory is often zero by chance: have the allocator hand out filled memory instead
    // (the address sanitizer fills the first 4096 bytes of each block by itself).
    const ScopedMallocFill fill;

    const auto phrase = pattern (3000);
    firmware().setPhrase (0, phrase);
    firmware().shortenDataChunk (0, 100);

    EXPECT_EQ (runExport().text, "Export successful");

    auto expected = phrase;
    std::fill (expected.begin() + 100, expected.end(), 0);
    EXPECT_EQ (bytesOf (target), expected);
}

TEST_F (ExportWorker, ProgressCountsTheChunksBeforeEachTransferAndATimeOutKeepsWhatArrived)
{
    PedalProtocol::timeouts().exportChunkMs = 600;
    const auto phrase = pattern (4 * chunk);
    const float before[] = { 0.0f, 0.0f, 25.0f, 50.0f };

    for (int hanging = 0; hanging < 4; ++hanging)
    {
        SCOPED_TRACE ("time-out at chunk " + std::to_string (hanging));
        firmware().setPhrase (0, phrase);
        firmware().failDataChunk (hanging, Fault::timeOut);
        access->progressValue() = -2.0f;   // as the timer leaves it

        startExport (target);

        // While the transfer hangs, the chunks before it are counted, the controls are asked
        // off and the target starts anew.
        ASSERT_TRUE (waitForPendingChunk ((size_t) hanging, true));
        EXPECT_EQ (progress(), before[hanging]);
        EXPECT_TRUE (access->busy().load());
        EXPECT_EQ (controlsRequest(), UiRequestFlags::disableControls);
        EXPECT_EQ (progressText(), "Exporting");
        EXPECT_EQ (target.getSize(), 0);

        ASSERT_TRUE (waitForWorkerEnd());
        EXPECT_EQ (progress(), 100.0f);
        EXPECT_EQ (progressText(), "Error Code fffffff9");
        expectErrorAlert ({ {}, 0, takeAlerts() }, "Error Code fffffff9");
        EXPECT_EQ (bytesOf (target), std::vector<juce::uint8> (phrase.begin(), phrase.begin() + hanging * chunk));
    }

    // What the user sees at the next tick.
    access->tick();
    EXPECT_EQ (access->progressTextLabel().getText(), "Error Code fffffff9");
    EXPECT_TRUE (access->allControlsEnabled());
}

TEST_F (ExportWorker, DataFailuresAreToldWithTheLibrarysCode)
{
    struct Case { Fault fault; const char* text; };

    for (auto c : { Case { Fault::stall, "Error Code fffffff7" }, Case { Fault::unplug, "Error Code fffffffc" } })
    {
        SCOPED_TRACE (c.text);
        firmware().setPhrase (0, pattern (3 * chunk));
        firmware().failDataChunk (1, c.fault);

        const auto ending = runExport();

        EXPECT_EQ (ending.text, c.text);
        EXPECT_EQ (ending.progress, 100.0f);
        expectErrorAlert (ending, c.text);
        EXPECT_EQ (target.getSize(), chunk);
    }
}

TEST_F (ExportWorker, FailuresBeforeTheDataLeaveTheTargetAlone)
{
    struct Case
    {
        const char* what;
        std::function<void (PedalFirmware&)> arm;
        const char* text;     // the progress text left, "Exporting" when none new
        bool alert;
    };

    const std::vector<Case> cases {
        { "device information times out",  [] (PedalFirmware& f) { f.withholdNextReply (0); },                 "Error Code fffffff9", true },
        { "device information is empty",   [] (PedalFirmware& f) { f.setNextReplyLength (0, 0); },             "Exporting",           false },
        { "wave information times out",    [] (PedalFirmware& f) { f.withholdNextReply (1); },                 "Error Code fffffff9", true },
        { "wave information of 23 bytes",  [] (PedalFirmware& f) { f.setNextReplyLength (1, 23); },            "Exporting",           false },
        { "wave information of 25 bytes",  [] (PedalFirmware& f) { f.setNextReplyLength (1, 25); },            "Exporting",           false },
        // With a phrase stored the simulated pedal would stream it in place of the withheld answer.
        { "read phrase times out",         [] (PedalFirmware& f) { f.setPhrase (0, {}); f.withholdNextReply (readPhraseCode); }, "Error Code fffffff9", true },
        { "read phrase of 12 bytes",       [] (PedalFirmware& f) { f.setNextReplyLength (readPhraseCode, 12); }, "Export fail",       false },
        { "phrase size 0",                 [] (PedalFirmware& f) { f.setPhrase (0, {}); },                     "Exporting",           false },
    };

    putOldTarget();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        firmware().setPhrase (0, pattern (chunk));
        c.arm (firmware());
        const auto chunksBefore = firmware().getSentChunkSizes().size();

        // The label keeps the start's text when the export adds none.
        const auto ending = runExport();

        EXPECT_EQ (ending.text, c.text);
        EXPECT_EQ (ending.alerts.size(), c.alert ? 1u : 0u);

        if (c.alert)
            expectErrorAlert (ending, c.text);

        expectTargetUntouched();
        EXPECT_EQ (firmware().getSentChunkSizes().size(), chunksBefore);
    }
}

TEST_F (ExportWorker, ChunkSizeZeroEndsAsAFailureWithoutTouchingTheTarget)
{
    setWaveInfo ([] (auto& info) { info.transferChunkSize = 0; });
    firmware().setPhrase (0, pattern (chunk));
    putOldTarget();

    const auto ending = runExport();

    EXPECT_EQ (ending.text, "Export fail");
    EXPECT_TRUE (ending.alerts.empty());
    expectTargetUntouched();
}

TEST_F (ExportWorker, PedalThatDeliversNothingEndsAsAFailure)
{
    const auto phrase = pattern (3 * chunk);
    firmware().setPhrase (0, phrase);
    firmware().shortenDataChunk (1, 0);

    const auto ending = runExport();

    EXPECT_EQ (ending.text, "Export fail");
    EXPECT_TRUE (ending.alerts.empty());
    EXPECT_EQ (bytesOf (target), std::vector<juce::uint8> (phrase.begin(), phrase.begin() + chunk));
}

TEST_F (ExportWorker, TargetThatCannotBeCreatedIsAFailureWithTheSystemsReason)
{
    firmware().setPhrase (0, pattern (chunk));
    target = scratchFile ("missing-folder").getChildFile ("phrase.wav");

    const auto ending = runExport();

    EXPECT_EQ (ending.text, "Export fail");
    expectErrorAlert (ending, "No such file or directory");
    EXPECT_FALSE (target.exists());
}

TEST_F (ExportWorker, TargetThatCannotBeWrittenInFullIsAFailureWithTheSystemsReason)
{
    firmware().setPhrase (0, pattern (64 * 1024));

    Ending ending;

    {
        const auto limit = ScopedProcessLimit::fileSize (10000);
        ending = runExport();
    }

    EXPECT_EQ (ending.text, "Export fail");
    expectErrorAlert (ending, "File too large");
}

TEST_F (ExportWorker, PhraseTooLargeForMemoryIsAFailureAndTheTargetStays)
{
    // The pedal keeps its own copy of the phrase while it sends it, so the limit leaves room
    // for that copy but not for the export's.
    constexpr size_t phraseSize = 512u << 20;
    firmware().setPhrase (0, std::vector<juce::uint8> (phraseSize));
    putOldTarget();

    Ending ending;

    {
        const auto limit = ScopedProcessLimit::addressSpace (phraseSize + (256u << 20));
        ending = runExport();
    }

    EXPECT_EQ (ending.text, "Error Code fffffff5");
    expectErrorAlert (ending, "Error Code fffffff5");
    expectTargetUntouched();
    EXPECT_TRUE (firmware().getSentChunkSizes().empty());
}

//==============================================================================
class ExportWorkerWithoutInterface : public ExportWorker
{
protected:
    UsbDeviceDescription describePedal() const override     { return pedalWithoutInterface(); }
};

TEST_F (ExportWorkerWithoutInterface, PedalWhoseInterfaceCannotBeClaimedIsAFailure)
{
    putOldTarget();

    const auto ending = runExport();

    EXPECT_EQ (ending.text, "Export fail");
    EXPECT_TRUE (ending.alerts.empty());
    expectTargetUntouched();
}

TEST_F (ExportWorker, PedalGoneBeforeTheStartOnlyGivesTheControlsBack)
{
    pedal->unplug();
    putOldTarget();

    const auto ending = runExport();

    EXPECT_EQ (ending.text, "Exporting");
    EXPECT_TRUE (ending.alerts.empty());
    EXPECT_FALSE (access->busy().load());
    expectTargetUntouched();
}

//==============================================================================
TEST (TransfersWithoutPedal, DoNothingWithoutADeviceRecord)
{
    MainComponent component;
    component.stopTimer (MainComponent::timerId);
    MainComponentTestAccess access (component);
    access.uiRequestFlags().takeControlsRequest();

    // Each returns at once, so it may run on this thread.
    for (auto worker : { &MainComponent::receiveWaveFile, &MainComponent::sentWaveFile })
    {
        access.prepareTransfer (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("never.wav").getFullPathName(), 0);
        (component.*worker)();

        EXPECT_FALSE (access.busy().load());
        EXPECT_EQ (access.uiRequestFlags().peekControlsRequest(), UiRequestFlags::noRequest);
        EXPECT_TRUE (access.pendingProgressText().isEmpty());
        EXPECT_TRUE (ShownAlerts::list().empty());
    }
}
