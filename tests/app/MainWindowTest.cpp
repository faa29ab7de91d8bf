#include <gtest/gtest.h>

#include "LibUSB_ForKUVApplication.h"
#include "helpers/FrameworkFileDialog.h"
#include "helpers/MainComponentFixture.h"
#include "helpers/ProcessLimits.h"
#include "helpers/ShownAlerts.h"

#include <map>
#include <thread>

using namespace juce;

namespace
{
/** The application object, initialised as the framework would, in this process, with a pedal
    plugged in, once its window's timer has taken the first tick.
*/
struct ApplicationShell : public MainComponentFixture
{
    void SetUp() override
    {
        addPedal();

        // The framework's base wants to be built by a standalone program's factory; the factory
        // is put back at once, or the framework would install its own noisy X error handler.
        const auto previousFactory = JUCEApplicationBase::createInstance;
        JUCEApplicationBase::createInstance = [] () -> JUCEApplicationBase* { return nullptr; };
        application = std::make_unique<LibUSB_ForKUVApplication>();
        JUCEApplicationBase::createInstance = previousFactory;

        application->initialise ({});
        window = dynamic_cast<LibUSB_ForKUVApplication::MainWindow*> (TopLevelWindow::getTopLevelWindow (0));
        ASSERT_NE (window, nullptr);
        access = std::make_unique<MainComponentTestAccess> (*window->mainComponent);
        ASSERT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is connected"; }));
        drainMessages();
    }

    void TearDown() override
    {
        EXPECT_TRUE (waitFor ([this] { return ! access->component.isBusy(); }));
        ShownAlerts::dismissAll();
        application->shutdown();
        LocalisedStrings::setCurrentMappings (nullptr);
        MainComponentFixture::TearDown();
    }

    std::unique_ptr<LibUSB_ForKUVApplication> application;
    LibUSB_ForKUVApplication::MainWindow* window = nullptr;
};

/** What the user does in the main window. */
struct UserActions : public ApplicationShell {};

/** A main component on its own, without a pedal, its timer running. */
struct HandOverWithoutPedal : public MainComponentFixture {};

/** Cancels each of the framework's file panels as it opens (its modal loop would hold the test),
    noting its title, whether it has a window of its own, and which of some names it offers.
*/
struct FilePanelDriver : private Timer
{
    FilePanelDriver()   { startTimer (10); }

    void timerCallback() override
    {
        if (auto* panel = dynamic_cast<FileChooserDialogBox*> (Component::getCurrentlyModalComponent()))
        {
            auto* browser = ComponentSearch::find<FileBrowserComponent> (*panel);
            StringArray offered;

            for (auto* name : { "a.wav", "a.WAV", "a.aiff", "a.flac", "a.ogg", "a.mp3", "a.txt" })
                if (browser->isFileSuitable (File::getCurrentWorkingDirectory().getChildFile (name)))
                    offered.add (name);

            seen.add (panel->getName() + (panel->isOnDesktop() ? " (own window): " : " (inside another window): ") + offered.joinIntoString (" "));
            panel->exitModalState (0);
        }
    }

    StringArray seen;
};

/** Checks that each text the window shows, in a widget (clear of its border), in the first row of
    a file list (clear of its icon) or as a file dialog's title, stands out from what it is drawn on.
*/
void expectReadableTexts (Component& window)
{
    const auto image = window.createComponentSnapshot (window.getLocalBounds(), true, 1.0f);

    const auto expectReadable = [&] (Component& widget, const String& text, Rectangle<int> area)
    {
        // How many pixels have each relative luminance, of which the square of the perceived
        // brightness is near enough; the commonest is what the text stands on.
        std::map<float, int> counts;
        area = window.getLocalArea (&widget, area);

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                ++counts[std::pow (image.getPixelAt (x, y).getPerceivedBrightness(), 2.0f) + 0.05f];

        const auto background = std::max_element (counts.begin(), counts.end(), [] (auto& a, auto& b) { return a.second < b.second; })->first;
        EXPECT_GE (jmax (counts.rbegin()->first / background, background / counts.begin()->first), widget.isEnabled() ? 4.5f : 3.0f)
            << window.getName() << ": \"" << text << "\"";
    };

    // An alert paints its title and message under a transparent label for screen readers, so
    // they are checked there.
    ComponentSearch::find<Component> (window, [&] (Component& widget)   // visits every component
    {
        auto* button = dynamic_cast<TextButton*> (&widget);
        auto* label = dynamic_cast<Label*> (&widget);
        auto* editor = dynamic_cast<TextEditor*> (&widget);
        const auto text = button != nullptr ? button->getButtonText() : label != nullptr ? label->getText()
                        : editor != nullptr ? editor->getText() : String();

        if (widget.isVisible() && text.isNotEmpty())
            expectReadable (widget, text, widget.getLocalBounds().reduced (jmin (3, widget.getHeight() / 4)));

        if (auto* list = dynamic_cast<FileListComponent*> (&widget))
            if (auto* row = list->getComponentForRowNumber (0))
                expectReadable (*row, list->directoryContentsList.getFile (0).getFileName(), row->getLocalBounds().withTrimmedLeft (32));

        return false;
    });

    if (auto* dialog = dynamic_cast<FrameworkFileDialog*> (&window))
        expectReadable (window, "the title", dialog->titleArea());
}
}

TEST_F (ApplicationShell, OneFixedSizeWindowThatStaysWhileATransferRuns)
{
    EXPECT_FALSE (application->moreThanOneInstanceAllowed());
    EXPECT_EQ (window->getName(), "Quendrix v1.1.0");
    EXPECT_EQ (access->versionLabel().getText(), "Version: 1.1.0");
    EXPECT_FALSE (window->isResizable());
    EXPECT_EQ (window->getContentComponent()->getLocalBounds(), Rectangle<int> (621, 385));

    access->busy().store (true);
    application->systemRequestedQuit();
    EXPECT_FALSE (MessageManager::getInstance()->hasStopMessageBeenSent());
    access->busy().store (false);
}

TEST_F (ApplicationShell, EveryWindowTheFrameworkDrawsShowsItsTextsReadably)
{
    const TemporaryFile folder;
    ASSERT_TRUE (folder.getFile().getChildFile ("phrase.wav").create());

    // The open browser with nothing chosen (its Open button disabled), the save browser with a
    // file chosen (its row highlighted, its name in the filename box), and the overwrite question.
    FrameworkFileDialog openBrowser ("Open", FileBrowserComponent::openMode | FileBrowserComponent::canSelectFiles, folder.getFile());
    FrameworkFileDialog saveBrowser ("Save", FileBrowserComponent::saveMode | FileBrowserComponent::canSelectFiles, folder.getFile());
    saveBrowser.fileList().setSelectedFile (folder.getFile().getChildFile ("phrase.wav"));
    const std::unique_ptr<Component> alert (LookAndFeel::getDefaultLookAndFeel().createAlertWindow ("File already exists",
                                                "There's already a file called: /home/phrase.wav\n\nAre you sure you want to overwrite it?",
                                                "Overwrite", "Cancel", {}, MessageBoxIconType::WarningIcon, 2, nullptr));

    for (auto* drawn : std::initializer_list<Component*> { &openBrowser, &saveBrowser, alert.get() })
        expectReadableTexts (*drawn);
}

TEST_F (UserActions, DropTakesOneWavFileWhileImportIsEnabled)
{
    EXPECT_TRUE (access->component.isInterestedInFileDrag (StringArray ("/music/Take.WaV")));

    for (auto* files : { "/music/a.wav;/music/b.wav", "/music/take.mp3", "/music/takewav" })
        EXPECT_FALSE (access->component.isInterestedInFileDrag (StringArray::fromTokens (files, ";", {}))) << files;

    access->importButton().setEnabled (false);
    EXPECT_FALSE (access->component.isInterestedInFileDrag (StringArray ("/music/Take.WaV")));
}

TEST_F (UserActions, DroppedFileIsImportedIntoTheSelectedSlotAfterReplaceOneAtATimeAndAFailedStartIsTold)
{
    // A transfer of this file waits a second for the pedal's withheld answer; meanwhile a start is refused.
    pedals[0]->firmware().withholdNextReply (0);
    const TemporaryFile take (".wav");
    ASSERT_TRUE (take.getFile().create());

    // Cancel starts nothing, so the next start fails only for want of a thread, and the user is told.
    access->component.filesDropped (StringArray (take.getFile().getFullPathName()), 10, 10);
    ComponentSearch::findButton (*access->confirmDialog(), "Cancel")->triggerClick();
    ASSERT_TRUE (waitFor ([this] { return access->confirmDialog() == nullptr; }));

    {
        const auto noRoomForAThreadsStack = ScopedProcessLimit::addressSpace (1 << 20);
        access->component.writeEventCallbackTrue (1001);   // as Replace in the drop's question
    }

    EXPECT_EQ (ShownAlerts::dismissAll().at (0).message, "The transfer could not be started.");

    // Nothing was left claimed: the next start runs, with the selected slot, and refuses another.
    access->slotCombo().setSelectedItemIndex (2, dontSendNotification);
    access->component.writeEventCallbackTrue (1001);
    access->component.writeEventCallbackTrue (1001);
    EXPECT_EQ (ShownAlerts::dismissAll().at (0).message, "Another transfer is still running.");
    EXPECT_EQ (access->recordIndex(), 2);
}

TEST_F (UserActions, ExportAndConfirmedImportOpenTheirFilePanelsInWindowsOfTheirOwn)
{
    FilePanelDriver panels;

    // Cancel in the import's question (0) opens no panel; Replace (1) opens one.
    access->component.writeEventCallbackTrue (0);
    access->component.writeEventCallbackTrue (1);
    access->component.buttonClicked (&access->exportButton());
    EXPECT_EQ (panels.seen, StringArray ("Choose a wave file to load. (own window): a.wav a.WAV a.aiff a.flac a.ogg a.mp3",
                                         "save as a Wave PCM(*.wav) (own window): a.wav a.WAV"));
}

TEST_F (HandOverWithoutPedal, TheTimerShowsWhatTheWorkersHandOverAndTheirControlsRequestHasTheLastWord)
{
    // The first tick finds no pedal, disables the controls and draws an empty bar.
    createComponent();
    ASSERT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is not connected"; }));
    EXPECT_TRUE (access->noControlEnabled());
    EXPECT_EQ (access->progressMeter().getText(), "0.000000");

    // A worker that ends before the next tick: its enable request wins over a departure in that tick.
    access->endTransfer();
    component->hotPlugEvent (KuvLibUSBManager::deviceLeft);
    access->tick();
    EXPECT_TRUE (access->allControlsEnabled());

    // A worker on its own thread while the timer runs; its text goes last, so once that shows,
    // so has everything handed over before it.
    std::thread worker ([this]
    {
        access->beginTransfer();
        access->progressValue().store (55.5f);
        access->setProgressText ("Export successful");
    });

    EXPECT_TRUE (waitFor ([this] { return access->progressTextLabel().getText() == "Export successful"; }));
    worker.join();
    EXPECT_TRUE (access->noControlEnabled());

    // Until the next progress the bar stays.
    access->tick();
    EXPECT_EQ (access->progressMeter().getText(), "55.500000");
}
