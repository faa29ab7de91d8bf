#include <gtest/gtest.h>

#include "helpers/FilePanelDriver.h"
#include "helpers/MainComponentFixture.h"
#include "helpers/ShownAlerts.h"
#include "helpers/ThreadStarts.h"

using namespace juce;

namespace
{
/** No pedal: the workers end at once, so what a test sees is what the actions handed over. Its
    timer is stopped so that the controls keep the state a test gives them.
*/
struct UserActions : public MainComponentFixture
{
    void SetUp() override
    {
        createComponent().stopTimer (MainComponent::timerId);
        access->slotCombo().addItemList ({ "1", "2", "3" }, 1);
        access->slotCombo().setSelectedItemIndex (2, dontSendNotification);
        access->prepareTransfer ("/earlier/transfer.wav", 7);
    }

    void TearDown() override
    {
        // Lets a worker a test started, or held, let go of the component.
        ThreadStarts::release();
        ShownAlerts::dismissAll();
        EXPECT_TRUE (waitUntilWorkerEnded());
        MainComponentFixture::TearDown();
    }

    /** Clicks a button of the open question, and waits until its window and its callbacks
        (among them what the answer starts) are done.
    */
    void answer (const String& button)
    {
        Component::SafePointer<DialogWindow> dialog;
        ASSERT_TRUE (waitFor ([&] { return (dialog = access->confirmDialog()) != nullptr; }));
        ComponentSearch::findButton (*dialog, button)->triggerClick();
        EXPECT_TRUE (waitFor ([&] { return dialog == nullptr; })) << button;
    }

    void dropAndAnswer (const String& path, const String& button)
    {
        component->filesDropped (StringArray (path), 10, 10);
        answer (button);
    }

    bool waitUntilWorkerEnded()     { return component == nullptr || waitFor ([this] { return ! component->isBusy(); }); }
    String handedOver() const       { return access->transferPath() + " into " + String (access->recordIndex()); }

    /** The message of the one alert a failure shows, which is closed. */
    static String warningShown()
    {
        const auto shown = waitFor ([] { return ! ShownAlerts::list().empty(); });
        const auto alerts = ShownAlerts::dismissAll();
        return shown && alerts.size() == 1 ? alerts[0].title + ": " + alerts[0].message : String ("no single alert");
    }

    FilePanelDriver panels;
};
}

TEST_F (UserActions, DropTakesOneWavFileWhileImportIsEnabled)
{
    const struct { StringArray files; bool importEnabled, taken; } cases[] {
        { StringArray ("/music/take.wav"), true, true },
        { StringArray ("relative.WaV"), true, true },
        { StringArray ("/music/take.wav"), false, false },
        { StringArray ("/music/a.wav", "/music/b.wav"), true, false },
        { StringArray(), true, false },
        { StringArray ("/music/take.mp3"), true, false },
        { StringArray ("/music/takewav"), true, false },
    };

    for (auto& c : cases)
    {
        access->importButton().setEnabled (c.importEnabled);
        EXPECT_EQ (component->isInterestedInFileDrag (c.files), c.taken) << c.files.joinIntoString (" ");
    }
}

TEST_F (UserActions, DroppedFileIsImportedIntoTheSelectedSlotOnlyAfterReplace)
{
    dropAndAnswer ("/music/cancelled.wav", "Cancel");
    EXPECT_EQ (handedOver(), "/earlier/transfer.wav into 7");

    dropAndAnswer ("/music/take.wav", "Replace");
    EXPECT_TRUE (waitUntilWorkerEnded());
    EXPECT_EQ (handedOver(), "/music/take.wav into 2");

    // Closing the window closes a question left open.
    component->filesDropped (StringArray ("/music/unanswered.wav"), 10, 10);
    Component::SafePointer<DialogWindow> dialog (access->confirmDialog());
    deleteComponent();
    EXPECT_EQ (dialog, nullptr);
}

TEST_F (UserActions, ExportAndConfirmedImportOpenTheirFilePanelsInWindowsOfTheirOwn)
{
    if (FileChooser::isPlatformDialogAvailable())
        GTEST_SKIP() << "this desktop shows native file panels, which only the end-to-end tests answer";

    // Cancel opens no panel; the panels are cancelled and hand nothing over.
    access->importButton().triggerClick();
    answer ("Cancel");
    access->importButton().triggerClick();
    answer ("Replace");
    access->exportButton().triggerClick();
    ASSERT_TRUE (waitFor ([this] { return panels.seen.size() == 2; }));

    EXPECT_EQ (panels.seen.joinIntoString ("\n"),
               "Choose a wave file to load. (open, own window): a.wav a.bwf a.aiff a.aif a.flac a.ogg a.mp3 a.WAV\n"
               "save as a Wave PCM(*.wav) (save, own window): a.wav a.WAV");
    EXPECT_EQ (handedOver(), "/earlier/transfer.wav into 7");
}

TEST_F (UserActions, NoSecondTransferStartsBeforeTheFirstHasEnded)
{
    // The first import's thread exists but has not run a step: nothing is disabled yet.
    ThreadStarts::hold();
    dropAndAnswer ("/music/first.wav", "Replace");
    EXPECT_TRUE (component->isBusy());   // which keeps the program from quitting

    // A question answered meanwhile is refused, and the user told.
    access->droppedFilePath() = "/music/second.wav";
    component->writeEventCallbackTrue (1001);
    EXPECT_EQ (warningShown(), "Import Error: Another transfer is still running.");
    EXPECT_EQ (handedOver(), "/music/first.wav into 2");

    ThreadStarts::release();
    ASSERT_TRUE (waitUntilWorkerEnded());
    dropAndAnswer ("/music/second.wav", "Replace");
    EXPECT_TRUE (waitUntilWorkerEnded());
    EXPECT_EQ (handedOver(), "/music/second.wav into 2");
}

TEST_F (UserActions, WorkerThatCannotStartIsToldAndLeavesTheWindowUsable)
{
    ThreadStarts::failNext();
    dropAndAnswer ("/music/take.wav", "Replace");
    EXPECT_FALSE (component->isBusy());
    EXPECT_EQ (warningShown(), "Import Error: The transfer could not be started.");

    dropAndAnswer ("/music/again.wav", "Replace");
    EXPECT_TRUE (waitUntilWorkerEnded());
    EXPECT_EQ (handedOver(), "/music/again.wav into 2");
}
