#include <gtest/gtest.h>

#include "DragWriteConfirm.h"
#include "WriteConfirm.h"
#include "helpers/ComponentSearch.h"
#include "helpers/FilePanelDriver.h"
#include "helpers/ShownAlerts.h"
#include "helpers/ThreadStarts.h"
#include "helpers/TransferFixture.h"

using juce::File;
using juce::String;
using juce::StringArray;

namespace
{
enum class Answer { replace, cancel, escapeKey, closeButton };

const char* describe (Answer answer)
{
    switch (answer)
    {
        case Answer::replace:     return "Replace";
        case Answer::cancel:      return "Cancel";
        case Answer::escapeKey:   return "Escape";
        case Answer::closeButton: return "close button";
    }

    return "";
}

/** Answers a confirmation dialog as the user would, through its window, and waits until its
    callbacks have run; gives the dialog's own result.
*/
int answerDialog (juce::DialogWindow* dialog, Answer answer)
{
    if (dialog == nullptr)
    {
        ADD_FAILURE() << "no confirmation dialog is open";
        return -1;
    }

    // Callbacks run last-attached first, all in one message: once this one has run and the
    // window is gone, so has the main component's.
    auto result = std::make_shared<int> (-1);
    juce::ModalComponentManager::getInstance()->attachCallback (dialog, juce::ModalCallbackFunction::create ([result] (int r) { *result = r; }));
    juce::Component::SafePointer<juce::DialogWindow> watch (dialog);

    if (answer == Answer::replace || answer == Answer::cancel)
        ComponentSearch::findButton (*dialog, describe (answer))->triggerClick();
    else if (answer == Answer::escapeKey)
        dialog->getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::escapeKey));
    else
        dialog->getPeer()->handleUserClosingWindow();   // what the window manager's close button sends

    EXPECT_TRUE (waitFor ([result, watch] { return *result != -1 && watch == nullptr; })) << describe (answer);
    return *result;
}

/** Puts a main component on screen as in the main window (the save panel opens inside it), its
    timer stopped so that the controls keep the state a test gives them.
*/
void showAsInTheMainWindow (MainComponent& component)
{
    component.stopTimer (MainComponent::timerId);
    component.addToDesktop (juce::ComponentPeer::windowHasTitleBar);
    component.setVisible (true);
}

/** Closes whatever a test left open, and lets a worker it started let go of the component. */
void closeEverythingAndLetWorkersEnd (MainComponent* component)
{
    ThreadStarts::release();
    ShownAlerts::dismissAll();
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    EXPECT_TRUE (waitFor ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }));

    if (component != nullptr)
    {
        EXPECT_TRUE (waitFor ([component] { return ! component->isBusy(); }, 20000));
    }
}

/** The one file panel shown: its title, its mode and which sample names it offers. It has a
    window of its own: inside the smaller main window it would be cut off.
*/
void expectOnePanel (const FilePanelDriver& panels, const String& title, bool saveMode, const String& listedNames)
{
    ASSERT_EQ (panels.panels().size(), 1u);
    EXPECT_EQ (panels.panels()[0].title, title);
    EXPECT_EQ (panels.panels()[0].saveMode, saveMode);
    EXPECT_EQ (panels.panels()[0].listedNames.joinIntoString (" "), listedNames);
    EXPECT_TRUE (panels.panels()[0].ownWindow);
}

/** Waits for the one alert a failure shows, and closes it. */
void expectOneWarning (const String& title, const String& message)
{
    ASSERT_TRUE (waitFor ([] { return ! ShownAlerts::list().empty(); }));
    const auto alerts = ShownAlerts::dismissAll();

    ASSERT_EQ (alerts.size(), 1u);
    EXPECT_EQ (alerts[0].title, title);
    EXPECT_EQ (alerts[0].message, message);
    EXPECT_EQ (alerts[0].icon, juce::MessageBoxIconType::WarningIcon);
}

#define SKIP_WHERE_PANELS_ARE_NATIVE() \
    if (FilePanelDriver::nativePanelsInUse()) \
        GTEST_SKIP() << "this desktop shows native file panels, which only the end-to-end tests answer"

//==============================================================================
/** No pedal: the workers end at once, so what a test sees is what the actions handed over. */
struct UserActions : public MainComponentFixture
{
    void SetUp() override
    {
        showAsInTheMainWindow (createComponent());

        for (int slot = 1; slot <= 3; ++slot)
            access->slotCombo().addItem (String (slot), slot);

        access->slotCombo().setSelectedItemIndex (2, juce::dontSendNotification);
        access->recordIndex() = 7;
        access->transferPath() = "/earlier/transfer.wav";
    }

    void TearDown() override
    {
        closeEverythingAndLetWorkersEnd (component.get());
        MainComponentFixture::TearDown();
    }

    juce::DialogWindow* openDialog() const      { return access->confirmDialog().getComponent(); }
    int answerDialog (Answer answer) const      { return ::answerDialog (openDialog(), answer); }

    void drop (const String& path)
    {
        ASSERT_TRUE (component->isInterestedInFileDrag (StringArray (path)));
        component->filesDropped (StringArray (path), 10, 10);
    }

    void clickAndWait (juce::Button& button)
    {
        button.triggerClick();
        drainMessages();
    }

    bool waitUntilWorkerEnded()     { return waitFor ([this] { return ! component->isBusy(); }); }

    void expectHandedOver (const String& path, int slot) const
    {
        EXPECT_EQ (access->transferPath(), path);
        EXPECT_EQ (access->recordIndex(), slot);
    }

    void expectNothingHandedOver() const    { expectHandedOver ("/earlier/transfer.wav", 7); }

    FilePanelDriver panels;
    const int startsBefore = ThreadStarts::started();
};
}

//==============================================================================
TEST_F (UserActions, DropTakesOneWavFileInAnyCaseWhileImportIsEnabled)
{
    for (auto* path : { "/music/take.wav", "/music/TAKE.WAV", "/music/Take.WaV", "relative.wAv" })
        EXPECT_TRUE (component->isInterestedInFileDrag (StringArray (path))) << path;

    EXPECT_FALSE (component->isInterestedInFileDrag (StringArray ("/music/a.wav", "/music/b.wav")));
    EXPECT_FALSE (component->isInterestedInFileDrag (StringArray()));

    for (auto* path : { "/music/take.mp3", "/music/take.wav.mp3", "/music/take.wave", "/music/takewav", "/music/take.wav " })
        EXPECT_FALSE (component->isInterestedInFileDrag (StringArray (path))) << path;

    access->importButton().setEnabled (false);
    EXPECT_FALSE (component->isInterestedInFileDrag (StringArray ("/music/take.wav")));

    access->importButton().setEnabled (true);
    access->exportButton().setEnabled (false);
    EXPECT_TRUE (component->isInterestedInFileDrag (StringArray ("/music/take.wav")));

    component->setEnabled (false);
    EXPECT_FALSE (component->isInterestedInFileDrag (StringArray ("/music/take.wav")));
}

TEST_F (UserActions, DroppedFileIsImportedIntoTheSelectedSlotOnlyAfterReplace)
{
    for (auto answer : { Answer::cancel, Answer::escapeKey, Answer::closeButton })
    {
        const String path = String ("/music/") + describe (answer) + ".wav";
        drop (path);

        EXPECT_EQ (answerDialog (answer), 0) << describe (answer);
        EXPECT_EQ (access->droppedFilePath(), path);
        expectNothingHandedOver();
    }

    EXPECT_EQ (ThreadStarts::started(), startsBefore);

    drop ("/music/take.wav");

    auto* dialog = openDialog();
    ASSERT_NE (dialog, nullptr);
    EXPECT_EQ (dialog->getName(), "Write to device");
    EXPECT_EQ (dialog->getBackgroundColour(), juce::Colour (0xff0e345a));
    EXPECT_TRUE (dialog->isResizable());
    EXPECT_TRUE (dialog->isUsingNativeTitleBar());
    EXPECT_TRUE (dialog->isCurrentlyModal());
    EXPECT_NE (dynamic_cast<DragWriteConfirm*> (dialog->getContentComponent()), nullptr);

    EXPECT_EQ (answerDialog (Answer::replace), 1);
    EXPECT_TRUE (waitUntilWorkerEnded());

    expectHandedOver ("/music/take.wav", 2);
    EXPECT_EQ (ThreadStarts::started(), startsBefore + 1);
    EXPECT_TRUE (panels.panels().empty());

    // With an empty slot list no slot is selected.
    access->slotCombo().clear (juce::dontSendNotification);
    component->writeEventCallbackTrue (1001);
    EXPECT_TRUE (waitUntilWorkerEnded());
    expectHandedOver ("/music/take.wav", -1);
}

TEST_F (UserActions, ImportButtonAsksWithTheFormatsBeforeTheOpenPanel)
{
    SKIP_WHERE_PANELS_ARE_NATIVE();

    // Cancel, Escape and the close button open no panel.
    for (auto answer : { Answer::cancel, Answer::escapeKey, Answer::closeButton })
    {
        clickAndWait (access->importButton());
        EXPECT_EQ (answerDialog (answer), 0) << describe (answer);
    }

    EXPECT_TRUE (panels.panels().empty());

    clickAndWait (access->importButton());

    auto* dialog = openDialog();
    ASSERT_NE (dialog, nullptr);
    EXPECT_EQ (dialog->getName(), "Export to device");
    EXPECT_EQ (dialog->getBackgroundColour(), juce::Colour (0xff0e345a));
    ASSERT_NE (dynamic_cast<WriteConfirm*> (dialog->getContentComponent()), nullptr);

    auto* message = ComponentSearch::find<juce::Label> (*dialog->getContentComponent());
    ASSERT_NE (message, nullptr);
    EXPECT_EQ (message->getText(), "Supported formats:\n\n" + access->supportedWildcards()
                                       + "\n\nA phrase already exits on the device.\nDo you want to replace it?");

    // A cancelled open panel hands nothing over.
    EXPECT_EQ (answerDialog (Answer::replace), 1);
    expectOnePanel (panels, "Choose a wave file to load.", false, "a.wav a.bwf a.aiff a.aif a.flac a.ogg a.mp3 a.WAV");
    EXPECT_EQ (ThreadStarts::started(), startsBefore);
    expectNothingHandedOver();
}

TEST_F (UserActions, FileChosenAfterReplaceIsImportedIntoTheSlotSelectedThen)
{
    SKIP_WHERE_PANELS_ARE_NATIVE();

    const auto chosen = File::getSpecialLocation (File::currentExecutableFile);
    clickAndWait (access->importButton());
    access->slotCombo().setSelectedItemIndex (1, juce::dontSendNotification);

    panels.chooseNext (chosen);
    EXPECT_EQ (answerDialog (Answer::replace), 1);
    EXPECT_TRUE (waitUntilWorkerEnded());

    expectHandedOver (chosen.getFullPathName(), 1);
    EXPECT_EQ (ThreadStarts::started(), startsBefore + 1);
}

//==============================================================================
TEST_F (UserActions, NoSecondTransferStartsBeforeTheFirstHasEnded)
{
    // The first import's thread exists but has not run a step yet: the timer has not disabled
    // anything and the worker has not set busy.
    ThreadStarts::hold();
    drop ("/music/first.wav");
    EXPECT_EQ (answerDialog (Answer::replace), 1);
    ASSERT_EQ (ThreadStarts::started(), startsBefore + 1);
    ASSERT_TRUE (access->importButton().isEnabled());
    ASSERT_FALSE (access->busy().load());

    // Quitting now would delete the component under the thread.
    EXPECT_TRUE (component->isBusy());

    // A second click or drop within the same timer period asks nothing and hands nothing over.
    clickAndWait (access->importButton());
    clickAndWait (access->exportButton());
    component->filesDropped (StringArray ("/music/second.wav"), 10, 10);
    EXPECT_EQ (openDialog(), nullptr);
    EXPECT_TRUE (panels.panels().empty());
    EXPECT_EQ (access->droppedFilePath(), "/music/first.wav");

    // A confirmation answered meanwhile is refused, and the user is told.
    access->droppedFilePath() = "/music/second.wav";
    component->writeEventCallbackTrue (1001);
    EXPECT_EQ (access->transferPath(), "/music/first.wav");
    EXPECT_EQ (ThreadStarts::started(), startsBefore + 1);
    expectOneWarning ("Import Error", "Another transfer is still running.");

    ThreadStarts::release();
    ASSERT_TRUE (waitUntilWorkerEnded());

    // Once the first has ended the next one starts.
    drop ("/music/second.wav");
    EXPECT_EQ (answerDialog (Answer::replace), 1);
    EXPECT_TRUE (waitUntilWorkerEnded());
    EXPECT_EQ (access->transferPath(), "/music/second.wav");
    EXPECT_EQ (ThreadStarts::started(), startsBefore + 2);
}

TEST_F (UserActions, WorkerThatCannotStartIsToldAndLeavesTheWindowUsable)
{
    ThreadStarts::failNext();
    drop ("/music/take.wav");
    EXPECT_EQ (answerDialog (Answer::replace), 1);

    EXPECT_FALSE (component->isBusy());
    EXPECT_EQ (ThreadStarts::started(), startsBefore);
    expectOneWarning ("Import Error", "The transfer could not be started.");

    // Nothing is left claimed: the same drop goes through at the next attempt.
    drop ("/music/take.wav");
    EXPECT_EQ (answerDialog (Answer::replace), 1);
    EXPECT_TRUE (waitUntilWorkerEnded());
    EXPECT_EQ (ThreadStarts::started(), startsBefore + 1);
}

TEST_F (UserActions, ClosingTheWindowEndsAnOpenDropDialogWithZeroAndImportsNothing)
{
    drop ("/music/take.wav");

    juce::Component::SafePointer<juce::DialogWindow> dialog (openDialog());
    ASSERT_NE (dialog, nullptr);

    auto result = std::make_shared<int> (-1);
    juce::ModalComponentManager::getInstance()->attachCallback (dialog, juce::ModalCallbackFunction::create ([result] (int r) { *result = r; }));

    deleteComponent();

    EXPECT_EQ (dialog, nullptr);
    EXPECT_TRUE (waitFor ([result] { return *result != -1; }));
    EXPECT_EQ (*result, 0);
    EXPECT_EQ (ThreadStarts::started(), startsBefore);
}

//==============================================================================
namespace
{
/** A pedal found: which worker a road starts shows at the pedal. */
struct UserActionRoads : public TransferFixture
{
    void SetUp() override
    {
        TransferFixture::SetUp();

        if (HasFatalFailure())
            return;

        showAsInTheMainWindow (*component);
        ASSERT_EQ (access->slotItems().size(), 99);
        access->slotCombo().setSelectedItemIndex (4, juce::dontSendNotification);
    }

    void TearDown() override
    {
        closeEverythingAndLetWorkersEnd (component.get());
        TransferFixture::TearDown();
    }

    bool waitUntilWorkerEnded()     { return waitFor ([this] { return ! component->isBusy(); }, 20000); }

    FilePanelDriver panels;
};
}

TEST_F (UserActionRoads, ExportButtonReadsTheSelectedSlotIntoTheFileNamedInTheSavePanel)
{
    SKIP_WHERE_PANELS_ARE_NATIVE();

    const auto phrase = pattern (10000);
    firmware().setPhrase (4, phrase);
    const auto target = scratchFile ("exported.wav");

    // The hidden "Read" button's state plays no part.
    access->readButton().setEnabled (false);

    panels.chooseNext (target);
    access->exportButton().triggerClick();
    ASSERT_TRUE (waitFor ([this] { return panels.panels().size() == 1; }));
    ASSERT_TRUE (waitUntilWorkerEnded());

    expectOnePanel (panels, "save as a Wave PCM(*.wav)", true, "a.wav a.WAV");
    EXPECT_EQ (bytesOf (target), phrase);

    // A cancelled save panel starts nothing.
    const auto commands = firmware().getCommands().size();
    access->exportButton().triggerClick();
    ASSERT_TRUE (waitFor ([this] { return panels.panels().size() == 2
                                          && juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }));
    EXPECT_FALSE (component->isBusy());
    EXPECT_EQ (firmware().getCommands().size(), commands);
    EXPECT_EQ (access->transferPath(), target.getFullPathName());
}

TEST_F (UserActionRoads, DroppedFileIsWrittenIntoTheSelectedSlotAfterReplace)
{
    // Already in the pedal's format, so the import sends it unchanged.
    const auto input = scratchFile ("take.WAV");
    {
        juce::AudioBuffer<float> frames (2, 300);
        frames.clear();
        frames.setSample (0, 10, 0.5f);

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (input.createOutputStream().release(), 44100, 2, 16, {}, 0));
        ASSERT_TRUE (writer != nullptr && writer->writeFromAudioSampleBuffer (frames, 0, frames.getNumSamples()));
    }

    ASSERT_TRUE (component->isInterestedInFileDrag (StringArray (input.getFullPathName())));
    component->filesDropped (StringArray (input.getFullPathName()), 10, 10);
    EXPECT_EQ (answerDialog (access->confirmDialog().getComponent(), Answer::replace), 1);
    ASSERT_TRUE (waitUntilWorkerEnded());

    EXPECT_EQ (firmware().getPhrase (4), bytesOf (input));
}

TEST_F (UserActionRoads, RefreshSelectsThePedalLeftWhenTheSelectedOneHasGone)
{
    // The timer is stopped: only the refresh takes notice of what is plugged and pulled.
    access->uiRequestFlags().testAndClear (UiRequestFlags::pendingArrival);
    access->uiRequestFlags().testAndClear (UiRequestFlags::pendingDeparture);

    auto& second = addPedal (pedalAt (1, 9));
    ASSERT_TRUE (waitFor ([this] { return access->uiRequestFlags().isSet (UiRequestFlags::pendingArrival); }));
    pedal->unplug();
    ASSERT_TRUE (waitFor ([this] { return access->uiRequestFlags().isSet (UiRequestFlags::pendingDeparture); }));

    const auto secondKey = String::formatted ("9002 0084 01 %02X", second.getDescription().address);
    const auto queriesBefore = second.firmware().getCommands().size();

    component->buttonClicked (&access->refreshButton());

    EXPECT_EQ (access->selectedDeviceKey(), secondKey);
    EXPECT_EQ (access->slotItems().size(), 99);
    EXPECT_GT (second.firmware().getCommands().size(), queriesBefore);

    // Found again, the pedal stays selected.
    component->buttonClicked (&access->refreshButton());
    EXPECT_EQ (access->selectedDeviceKey(), secondKey);
}
