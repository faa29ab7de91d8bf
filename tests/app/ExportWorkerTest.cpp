#include "helpers/ProcessLimits.h"
#include "helpers/TransferFixture.h"

#include <malloc.h>

#include <numeric>

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

    /** The phrase bytes the pedal has sent since it had sent chunksBefore chunks. */
    size_t bytesSentSince (size_t chunksBefore)
    {
        const auto chunks = firmware().getSentChunkSizes();
        return (size_t) std::accumulate (chunks.begin() + (std::ptrdiff_t) chunksBefore, chunks.end(), (juce::int64) 0);
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

TEST_F (ExportWorker, WritesThePhraseByteForByteInChunksOverAnOldFile)
{
    // Fresh memory is often zero by chance: have the allocator hand out filled memory instead
    // (the address sanitizer fills the first 4096 bytes of each block by itself).
    const ScopedMallocFill fill;

    const struct
    {
        const char* what;
        int slot;
        size_t size;
        int shortChunk, shortBytes;     // a chunk that moves fewer bytes (-1: none)
        std::vector<int> chunks;
        size_t zeroFrom;                // a short last chunk counts in full; the rest stays zero
    } cases[] {
        { "several chunks",          7, 3 * chunk + 1000, -1, 0,    { chunk, chunk, chunk, 1000 },            3 * chunk + 1000 },
        { "less than one chunk",     0, 10,               -1, 0,    { 10 },                                   10 },
        { "empty slot list",        -1, 500,              -1, 0,    { 500 },                                  500 },
        { "short full chunk",        0, 3 * chunk,         1, 1000, { chunk, 1000, chunk, chunk - 1000 },     3 * chunk },
        { "short last chunk",        0, 3000,              0, 100,  { 100 },                                  100 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto phrase = pattern (c.size, (int) c.size);
        firmware().setPhrase ((juce::uint32) c.slot, phrase);

        if (c.shortChunk >= 0)
            firmware().shortenDataChunk (c.shortChunk, c.shortBytes);

        // Longer than the phrase: no tail of it may survive.
        const auto old = pattern (100000, 99);
        ASSERT_TRUE (target.replaceWithData (old.data(), old.size()));
        const auto chunksBefore = firmware().getSentChunkSizes().size();

        const auto ending = runExport (c.slot);

        auto expected = phrase;
        std::fill (expected.begin() + (std::ptrdiff_t) c.zeroFrom, expected.end(), 0);
        EXPECT_EQ (bytesOf (target), expected);
        EXPECT_EQ (ending.text, "Export successful");
        EXPECT_EQ (ending.progress, 100.0f);
        EXPECT_TRUE (ending.alerts.empty());
        const auto chunks = firmware().getSentChunkSizes();
        EXPECT_EQ (std::vector<int> (chunks.begin() + (std::ptrdiff_t) chunksBefore, chunks.end()), c.chunks);
        EXPECT_EQ (firmware().getCommands().back(), readPhraseCommand ((juce::uint32) c.slot));
    }
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

TEST_F (ExportWorker, FailuresAreToldAndKeepOnlyWhatArrived)
{
    struct Case
    {
        const char* what;
        std::function<void()> arm;
        const char* text;     // the progress text left, "Exporting" when none new
        bool alert;
        int kept;             // bytes of the phrase in the target; -1: the old file untouched
    };

    auto& f = firmware();
    const Case cases[] {
        { "device information times out",  [&] { f.withholdNextReply (0); },                 "Error Code fffffff9", true,  -1 },
        { "device information is empty",   [&] { f.setNextReplyLength (0, 0); },             "Exporting",           false, -1 },
        { "wave information times out",    [&] { f.withholdNextReply (1); },                 "Error Code fffffff9", true,  -1 },
        { "wave information of 23 bytes",  [&] { f.setNextReplyLength (1, 23); },            "Exporting",           false, -1 },
        { "wave information of 25 bytes",  [&] { f.setNextReplyLength (1, 25); },            "Exporting",           false, -1 },
        // With a phrase stored the simulated pedal would stream it in place of the withheld answer.
        { "read phrase times out",         [&] { f.setPhrase (0, {}); f.withholdNextReply (readPhraseCode); }, "Error Code fffffff9", true, -1 },
        { "read phrase of 12 bytes",       [&] { f.setNextReplyLength (readPhraseCode, 12); }, "Export fail",       false, -1 },
        { "phrase size 0",                 [&] { f.setPhrase (0, {}); },                     "Exporting",           false, -1 },
        { "chunk size 0",                  [&] { setWaveInfo ([] (auto& info) { info.transferChunkSize = 0; }); }, "Export fail", false, -1 },
        { "stall",                         [&] { f.failDataChunk (1, Fault::stall); },       "Error Code fffffff7", true,  chunk },
        { "nothing delivered",             [&] { f.shortenDataChunk (1, 0); },               "Export fail",         false, chunk },
        { "unplugged during the data",     [&] { f.failDataChunk (1, Fault::unplug); },      "Error Code fffffffc", true,  chunk },
        { "pedal gone before the start",   [] {},                                            "Exporting",           false, -1 },
    };

    const auto phrase = pattern (3 * chunk);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        putOldTarget();
        f.setWaveInfo ({});
        f.setPhrase (0, phrase);
        c.arm();

        // The label keeps the start's text when the export adds none.
        const auto ending = runExport();

        EXPECT_EQ (ending.text, c.text);
        EXPECT_EQ (ending.alerts.size(), c.alert ? 1u : 0u);

        if (c.alert)
            expectErrorAlert (ending, c.text);

        EXPECT_FALSE (access->busy().load());

        if (c.kept < 0)
            expectTargetUntouched();
        else
            EXPECT_EQ (bytesOf (target), std::vector<juce::uint8> (phrase.begin(), phrase.begin() + c.kept));
    }

    EXPECT_FALSE (pedal->isPlugged());
}

TEST_F (ExportWorker, TargetThatCannotBeWrittenIsAFailureWithTheSystemsReason)
{
    const auto folderless = scratchFile ("missing-folder").getChildFile ("phrase.wav");
    Ending ending;

    // A phrase that fits the file's buffer reaches the system only at the flush, whose short
    // write nobody reports: only the file's size tells.
    for (auto [size, reason] : { std::pair<size_t, const char*> { 64 * 1024, "File too large" },
                                 { 12000, "The file could not be written in full" } })
    {
        firmware().setPhrase (0, pattern (size));

        {
            const auto limit = ScopedProcessLimit::fileSize (10000);
            ending = runExport();
        }

        EXPECT_EQ (ending.text, "Export fail");
        expectErrorAlert (ending, reason);
    }

    // The pedal has announced the phrase: it is read whole before the failure is told, or the
    // pedal would answer the next command with the rest.
    target = folderless;
    firmware().setPhrase (0, pattern (64 * 1024));
    const auto chunksBefore = firmware().getSentChunkSizes().size();
    ending = runExport();
    EXPECT_EQ (ending.text, "Export fail");
    expectErrorAlert (ending, "No such file or directory");
    EXPECT_FALSE (target.exists());
    EXPECT_EQ (bytesSentSince (chunksBefore), (size_t) 64 * 1024);
}

TEST_F (ExportWorker, PedalHasTheProgramsSecondToAnswerACommandOrAChunk)
{
    useProgramTimeouts();
    const auto phrase = pattern (2 * chunk);

    // Half a second too late: a longer wait would take the answer, a shorter one end sooner.
    const struct { const char* what; std::function<void()> arm; int kept; } cases[] {
        { "device information", [&] { firmware().delayNextReply (0, 1500); }, 0 },
        { "second chunk",       [&] { firmware().delayDataChunk (1, 1500); }, chunk },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        firmware().setPhrase (0, phrase);
        c.arm();
        const auto start = juce::Time::getMillisecondCounterHiRes();

        const auto ending = runExport();

        EXPECT_GE (juce::Time::getMillisecondCounterHiRes() - start, 1000.0);
        expectErrorAlert (ending, "Error Code fffffff9");
        EXPECT_EQ (bytesOf (target), std::vector<juce::uint8> (phrase.begin(), phrase.begin() + c.kept));
    }
}

TEST_F (ExportWorker, PhraseTooLargeForMemoryIsAFailureAndTheTargetStays)
{
    // The pedal keeps its own copy of the phrase while it sends it, so the limit leaves room
    // for that copy but not for the export's; and for what the sanitizer's quarantine holds of
    // the transfers' buffers.
    constexpr size_t phraseSize = 512u << 20;
    firmware().setPhrase (0, std::vector<juce::uint8> (phraseSize));
    setWaveInfo ([] (auto& info) { info.transferChunkSize = 1u << 20; });
    putOldTarget();

    Ending ending;

    {
        const auto limit = ScopedProcessLimit::addressSpace (phraseSize + (384u << 20));
        ending = runExport();
    }

    // Read whole all the same, a chunk at a time, and dropped.
    expectErrorAlert (ending, "Error Code fffffff5");
    expectTargetUntouched();
    EXPECT_EQ (bytesSentSince (0), phraseSize);
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
