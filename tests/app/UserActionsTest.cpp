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

    bool waitUntilWorkerEnded()     { return waitFor ([this] { return ! component->isBusy(); }); }
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
    EXPECT_TRUE (component->isInterestedInFileDrag (StringArray ("/music/Take.WaV")));

    for (auto* files : { "/music/a.wav;/music/b.wav", "/music/take.mp3", "/music/takewav" })
        EXPECT_FALSE (component->isInterestedInFileDrag (StringArray::fromTokens (files, ";", {}))) << files;

    access->importButton().setEnabled (false);
    EXPECT_FALSE (component->isInterestedInFileDrag (StringArray ("/music/Take.WaV")));
}

TEST_F (UserActions, DroppedFileIsImportedIntoTheSelectedSlotOnlyAfterReplace)
{
    dropAndAnswer ("/music/cancelled.wav", "Cancel");
    EXPECT_EQ (handedOver(), "/earlier/transfer.wav into 7");

    dropAndAnswer ("/music/take.wav", "Replace");
    EXPECT_EQ (handedOver(), "/music/take.wav into 2");
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

TEST_F (UserActions, TransfersStartOneAtATimeAndAStartThatFailsIsTold)
{
    ThreadStarts::failNext();
    dropAndAnswer ("/music/take.wav", "Replace");
    EXPECT_EQ (warningShown(), "Import Error: The transfer could not be started.");

    // Nothing was left claimed. The next import's thread exists but has not run a step, so
    // nothing is disabled yet: a question answered meanwhile is refused, and the user told.
    ThreadStarts::hold();
    dropAndAnswer ("/music/first.wav", "Replace");
    EXPECT_TRUE (component->isBusy());   // which keeps the program from quitting

    access->droppedFilePath() = "/music/second.wav";
    component->writeEventCallbackTrue (1001);   // as Replace in a drop's question gives it
    EXPECT_EQ (warningShown(), "Import Error: Another transfer is still running.");
    EXPECT_EQ (handedOver(), "/music/first.wav into 2");

    // Once it has ended the next one starts.
    ThreadStarts::release();
    ASSERT_TRUE (waitUntilWorkerEnded());
    dropAndAnswer ("/music/second.wav", "Replace");
    EXPECT_EQ (handedOver(), "/music/second.wav into 2");
}
