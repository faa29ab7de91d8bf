#include <gtest/gtest.h>

#include "LibUSB_ForKUVApplication.h"
#include "helpers/FrameworkFileDialog.h"
#include "helpers/MainComponentTestAccess.h"
#include "helpers/UsbFixture.h"

#include <map>

using namespace juce;

namespace
{
/** The application object, initialised as the framework would, in this process, and its one window. */
struct ApplicationShell : public UsbFixture
{
    void SetUp() override
    {
        // The framework's base wants to be built by a standalone program's factory; the factory
        // is put back at once, or the framework would install its own noisy X error handler.
        const auto previousFactory = JUCEApplicationBase::createInstance;
        JUCEApplicationBase::createInstance = [] () -> JUCEApplicationBase* { return nullptr; };
        application = std::make_unique<LibUSB_ForKUVApplication>();
        JUCEApplicationBase::createInstance = previousFactory;

        application->initialise ({});
        window = dynamic_cast<LibUSB_ForKUVApplication::MainWindow*> (TopLevelWindow::getTopLevelWindow (0));
        ASSERT_NE (window, nullptr);
    }

    void TearDown() override
    {
        application->shutdown();
        EXPECT_EQ (KuvLibUSBManager::shardManager, nullptr);
        EXPECT_EQ (TopLevelWindow::getNumTopLevelWindows(), 0);

        application = nullptr;
        LocalisedStrings::setCurrentMappings (nullptr);
        UsbFixture::TearDown();
    }

    std::unique_ptr<LibUSB_ForKUVApplication> application;
    LibUSB_ForKUVApplication::MainWindow* window = nullptr;
};

/** How a text in the area stands out: the strongest contrast ratio between any pixel there (the
    core of its strokes) and the area's commonest colour (what it stands on).
*/
float textContrast (const Image& image, Rectangle<int> area)
{
    std::map<uint32, int> counts;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            ++counts[image.getPixelAt (x, y).getARGB()];

    if (counts.empty())
        return 1.0f;

    // The square of the perceived brightness is near enough to the relative luminance.
    const auto luminance = [] (uint32 argb) { return std::pow (Colour (argb).getPerceivedBrightness(), 2.0f) + 0.05f; };
    const auto background = luminance (std::max_element (counts.begin(), counts.end(),
                                                         [] (auto& a, auto& b) { return a.second < b.second; })->first);
    auto strongest = 1.0f;

    for (auto& entry : counts)
        strongest = jmax (strongest, luminance (entry.first) / background, background / luminance (entry.first));

    return strongest;
}

/** Checks that every text the window shows in a widget (clear of the widget's border), and every
    list row (clear of its icon), stands out from what it is drawn on; gives how many it checked.
*/
int expectReadableTexts (Component& window)
{
    const auto image = window.createComponentSnapshot (window.getLocalBounds(), true, 1.0f);
    int checked = 0;

    const auto expectReadable = [&] (Component& widget, const String& text, Rectangle<int> area)
    {
        ++checked;
        EXPECT_GE (textContrast (image, window.getLocalArea (&widget, area)), widget.isEnabled() ? 4.5f : 3.0f)
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
    EXPECT_FALSE (window->isResizable());
    EXPECT_EQ (window->getContentComponent()->getLocalBounds(), Rectangle<int> (621, 385));

    MainComponentTestAccess (*window->mainComponent).busy().store (true);
    application->systemRequestedQuit();
    window->closeButtonPressed();
    EXPECT_FALSE (MessageManager::getInstance()->hasStopMessageBeenSent());
}

TEST_F (ApplicationShell, EveryWindowTheFrameworkDrawsShowsItsTextsReadably)
{
    const TemporaryFile folder;
    ASSERT_TRUE (folder.getFile().getChildFile ("phrase.wav").create());

    // The open browser with nothing chosen (its Open button disabled), the save browser with a
    // file chosen (its row highlighted, its name in the filename box), and an alert.
    FrameworkFileDialog openBrowser ("Choose a wave file to load.",
                                     FileBrowserComponent::openMode | FileBrowserComponent::canSelectFiles, folder.getFile());
    FrameworkFileDialog saveBrowser ("save as a Wave PCM(*.wav)",
                                     FileBrowserComponent::saveMode | FileBrowserComponent::canSelectFiles, folder.getFile());
    saveBrowser.fileList().setSelectedFile (folder.getFile().getChildFile ("phrase.wav"));
    const std::unique_ptr<Component> alert (LookAndFeel::getDefaultLookAndFeel().createAlertWindow ("File already exists",
                                                "There's already a file called: /home/phrase.wav\n\nAre you sure you want to overwrite it?",
                                                "Overwrite", "Cancel", {}, MessageBoxIconType::WarningIcon, 2, nullptr));

    for (auto* shown : std::initializer_list<Component*> { &openBrowser, &saveBrowser, alert.get() })
        EXPECT_GE (expectReadableTexts (*shown), 3) << shown->getName();
}
