#include <gtest/gtest.h>

#include "LibUSB_ForKUVApplication.h"
#include "helpers/FrameworkFileDialog.h"
#include "helpers/MainComponentFixture.h"
#include "helpers/ProcessLimits.h"
#include "helpers/ShownAlerts.h"

#include <map>

using namespace juce;

namespace
{
/** The application object, initialised as the framework would, in this process, with a pedal
    plugged in. Its window's timer is stopped, so that the controls keep the state a test gives them.
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
        shown = window->mainComponent;
        shown->stopTimer (MainComponent::timerId);
        access = std::make_unique<MainComponentTestAccess> (*shown);
        drainMessages();    // the selection's second wave-information query answers asynchronously
    }

    void TearDown() override
    {
        EXPECT_TRUE (waitFor ([this] { return ! shown->isBusy(); }));
        ShownAlerts::dismissAll();
        application->shutdown();
        LocalisedStrings::setCurrentMappings (nullptr);
        MainComponentFixture::TearDown();
    }

    String handedOver() const       { return access->transferPath() + " into " + String (access->recordIndex()); }

    /** The title and message of the one alert shown, which is closed. */
    static String warningShown()
    {
        const auto alerts = ShownAlerts::dismissAll();
        return alerts.size() == 1 ? alerts[0].title + ": " + alerts[0].message : String ("no single alert");
    }

    std::unique_ptr<LibUSB_ForKUVApplication> application;
    LibUSB_ForKUVApplication::MainWindow* window = nullptr;
    MainComponent* shown = nullptr;
};

/** What the user does in the main window. */
struct UserActions : public ApplicationShell {};

/** Cancels each of the framework's file panels as it opens (its modal loop would hold the test),
    noting its title and whether it has a window of its own.
*/
struct FilePanelDriver : private Timer
{
    FilePanelDriver()   { startTimer (10); }

    void timerCallback() override
    {
        if (auto* panel = dynamic_cast<FileChooserDialogBox*> (Component::getCurrentlyModalComponent()))
        {
            seen.add (panel->getName() + (panel->isOnDesktop() ? " (own window)" : " (inside another window)"));
            panel->exitModalState (0);
        }
    }

    StringArray seen;
};

/** Checks that each text the window shows (a widget's, clear of its border; a list row's, clear
    of its icon; a file dialog's title) stands out from its area's commonest colour, on which it
    is drawn; gives how many it checked.
*/
int expectReadableTexts (Component& window)
{
    const auto image = window.createComponentSnapshot (window.getLocalBounds(), true, 1.0f);
    int checked = 0;

    const auto expectReadable = [&] (Component& widget, const String& text, Rectangle<int> area)
    {
        std::map<uint32, int> counts;
        area = window.getLocalArea (&widget, area);

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                ++counts[image.getPixelAt (x, y).getARGB()];

        // The square of the perceived brightness is near enough to the relative luminance.
        const auto luminance = [] (uint32 argb) { return std::pow (Colour (argb).getPerceivedBrightness(), 2.0f) + 0.05f; };
        const auto commonest = std::max_element (counts.begin(), counts.end(), [] (auto& a, auto& b) { return a.second < b.second; });
        auto contrast = 1.0f;

        for (auto& [argb, count] : counts)
            contrast = jmax (contrast, luminance (argb) / luminance (commonest->first), luminance (commonest->first) / luminance (argb));

        ++checked;
        EXPECT_GE (contrast, widget.isEnabled() ? 4.5f : 3.0f) << window.getName() << ": \"" << text << "\"";
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
            for (int row = 0; row < list->directoryContentsList.getNumFiles(); ++row)
                if (auto* item = list->getComponentForRowNumber (row))
                    expectReadable (*item, list->directoryContentsList.getFile (row).getFileName(), item->getLocalBounds().withTrimmedLeft (32));

        return false;
    });

    if (auto* dialog = dynamic_cast<FrameworkFileDialog*> (&window))
        expectReadable (window, "the title", dialog->titleArea());

    return checked;
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
    const auto files = FileBrowserComponent::canSelectFiles;
    FrameworkFileDialog openBrowser ("Choose a wave file to load.", FileBrowserComponent::openMode | files, folder.getFile());
    FrameworkFileDialog saveBrowser ("save as a Wave PCM(*.wav)", FileBrowserComponent::saveMode | files, folder.getFile());
    saveBrowser.fileList().setSelectedFile (folder.getFile().getChildFile ("phrase.wav"));
    const std::unique_ptr<Component> alert (LookAndFeel::getDefaultLookAndFeel().createAlertWindow ("File already exists",
                                                "There's already a file called: /home/phrase.wav\n\nAre you sure you want to overwrite it?",
                                                "Overwrite", "Cancel", {}, MessageBoxIconType::WarningIcon, 2, nullptr));

    for (auto* drawn : std::initializer_list<Component*> { &openBrowser, &saveBrowser, alert.get() })
        EXPECT_GE (expectReadableTexts (*drawn), 3) << drawn->getName();
}

TEST_F (UserActions, DropTakesOneWavFileWhileImportIsEnabled)
{
    EXPECT_TRUE (shown->isInterestedInFileDrag (StringArray ("/music/Take.WaV")));

    for (auto* files : { "/music/a.wav;/music/b.wav", "/music/take.mp3", "/music/takewav" })
        EXPECT_FALSE (shown->isInterestedInFileDrag (StringArray::fromTokens (files, ";", {}))) << files;

    access->importButton().setEnabled (false);
    EXPECT_FALSE (shown->isInterestedInFileDrag (StringArray ("/music/Take.WaV")));
}

TEST_F (UserActions, DroppedFileIsImportedIntoTheSelectedSlotAfterReplaceOneAtATimeAndAFailedStartIsTold)
{
    // The drop's question gives its callback 1000 for Cancel and 1001 for Replace.
    access->prepareTransfer ("/earlier/transfer.wav", 7);
    access->slotCombo().setSelectedItemIndex (2, dontSendNotification);
    shown->writeEventCallbackTrue (1000);
    EXPECT_EQ (handedOver(), "/earlier/transfer.wav into 7");

    {
        const auto noRoomForAThreadsStack = ScopedProcessLimit::addressSpace (4 << 20);
        shown->writeEventCallbackTrue (1001);
    }

    EXPECT_EQ (warningShown(), "Import Error: The transfer could not be started.");

    // Nothing was left claimed. While a transfer waits for the pedal's answer, another is
    // refused, and the user told.
    const TemporaryFile take (".wav");
    ASSERT_TRUE (take.getFile().create());
    pedals[0]->firmware().withholdNextReply (0);
    shown->filesDropped (StringArray (take.getFile().getFullPathName()), 10, 10);
    ComponentSearch::findButton (*access->confirmDialog(), "Replace")->triggerClick();
    ASSERT_TRUE (waitFor ([this] { return access->confirmDialog() == nullptr; }));
    shown->writeEventCallbackTrue (1001);

    EXPECT_EQ (warningShown(), "Import Error: Another transfer is still running.");
    EXPECT_EQ (handedOver(), take.getFile().getFullPathName() + " into 2");
}

TEST_F (UserActions, ExportAndConfirmedImportOpenTheirFilePanelsInWindowsOfTheirOwn)
{
    FilePanelDriver panels;

    // Cancel in the import's question (0) opens no panel; Replace (1) opens one; both panels are
    // cancelled and start nothing.
    shown->writeEventCallbackTrue (0);
    shown->writeEventCallbackTrue (1);
    access->exportButton().triggerClick();
    ASSERT_TRUE (waitFor ([&] { return panels.seen.size() == 2; }));
    EXPECT_EQ (panels.seen, StringArray ("Choose a wave file to load. (own window)", "save as a Wave PCM(*.wav) (own window)"));
}
