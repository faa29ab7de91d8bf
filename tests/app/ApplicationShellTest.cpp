#include <gtest/gtest.h>

#include "LibUSB_ForKUVApplication.h"
#include "helpers/FrameworkFileDialog.h"
#include "helpers/MainComponentTestAccess.h"
#include "helpers/UsbFixture.h"

#include <map>

namespace
{
/** The application object, initialised as the framework would, in this process. */
struct ApplicationShell : public UsbFixture
{
    void SetUp() override
    {
        // The framework's base wants to be built by a standalone program's factory; the factory
        // is put back at once, or the framework would install its own noisy X error handler.
        const auto previousFactory = juce::JUCEApplicationBase::createInstance;
        juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
        application = std::make_unique<LibUSB_ForKUVApplication>();
        juce::JUCEApplicationBase::createInstance = previousFactory;

        application->initialise ({});
    }

    void TearDown() override
    {
        application->shutdown();
        application = nullptr;
        juce::LocalisedStrings::setCurrentMappings (nullptr);
        UsbFixture::TearDown();
    }

    static LibUSB_ForKUVApplication::MainWindow* findMainWindow()
    {
        for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
            if (auto* w = dynamic_cast<LibUSB_ForKUVApplication::MainWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
                return w;

        return nullptr;
    }

    std::unique_ptr<LibUSB_ForKUVApplication> application;
};
}

TEST_F (ApplicationShell, OneFixedSizeWindowInTheApplicationsColoursAndTexts)
{
    EXPECT_EQ (application->getApplicationName(), "Quendrix v1.1.0");
    EXPECT_FALSE (application->moreThanOneInstanceAllowed());

    auto* window = findMainWindow();
    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "Quendrix v1.1.0");
    EXPECT_TRUE (window->isVisible());
    EXPECT_FALSE (window->isResizable());
    EXPECT_EQ (window->getContentComponent(), window->mainComponent);
    EXPECT_EQ (window->getContentComponent()->getBounds().getWidth(), 621);
    EXPECT_EQ (window->getContentComponent()->getBounds().getHeight(), 385);

    auto* lookAndFeel = dynamic_cast<juce::LookAndFeel_V4*> (&juce::LookAndFeel::getDefaultLookAndFeel());
    ASSERT_NE (lookAndFeel, nullptr);
    const juce::uint32 colours[] { 0xffe9e9e9, 0xffe9e9e9, 0xffffffff, 0xffbbbbbb, 0xffffffff,
                                   0xffa9a9a9, 0xffffffff, 0xff42a2c8, 0xff000000 };

    for (int i = 0; i < (int) std::size (colours); ++i)
        EXPECT_EQ (lookAndFeel->getCurrentColourScheme().getUIColour ((juce::LookAndFeel_V4::ColourScheme::UIColour) i),
                   juce::Colour (colours[i])) << "colour " << i;

    EXPECT_EQ (window->getBackgroundColour(), juce::Colour (colours[0]));

    // A default typeface name the platform does not have leaves texts with no width at all.
    EXPECT_GT (juce::Font (14.0f).getStringWidthFloat ("Export WAV file from pedal"), 10.0f);

    ASSERT_NE (juce::LocalisedStrings::getCurrentMappings(), nullptr);
    const auto text = "A phrase already exits on the device.\nDo you want to replace it?";
    EXPECT_EQ (juce::translate (text), text);
}

namespace
{
using namespace juce;

float luminance (Colour c)
{
    const auto linear = [] (uint8 v)
    {
        const auto s = (float) v / 255.0f;
        return s <= 0.03928f ? s / 12.92f : std::pow ((s + 0.055f) / 1.055f, 2.4f);
    };

    return 0.2126f * linear (c.getRed()) + 0.7152f * linear (c.getGreen()) + 0.0722f * linear (c.getBlue());
}

float contrastRatio (Colour a, Colour b)
{
    const auto la = luminance (a), lb = luminance (b);
    return (jmax (la, lb) + 0.05f) / (jmin (la, lb) + 0.05f);
}

/** How a text in the area stands out: the strongest contrast between any pixel there (the core
    of the strokes) and the area's commonest colour (what the text stands on). 1 when nothing shows.
*/
float textContrast (const Image& image, Rectangle<int> area)
{
    std::map<uint32, int> counts;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            ++counts[image.getPixelAt (x, y).getARGB()];

    if (counts.empty())
        return 1.0f;

    const auto background = Colour (std::max_element (counts.begin(), counts.end(),
                                                      [] (auto& a, auto& b) { return a.second < b.second; })->first);
    auto strongest = 1.0f;

    for (auto& entry : counts)
        strongest = jmax (strongest, contrastRatio (Colour (entry.first), background));

    return strongest;
}

struct ShownText
{
    String text;
    Rectangle<int> area;
    bool enabled = true;
};

/** Every text the window shows in a widget (a combo box's in its label), each clear of the
    widget's border, and the list rows clear of their icons.
*/
void collectTexts (Component& window, Component& parent, std::vector<ShownText>& texts)
{
    for (auto* child : parent.getChildren())
    {
        if (! child->isVisible())
            continue;

        const auto area = window.getLocalArea (child, child->getLocalBounds());
        const auto inset = jmin (3, area.getHeight() / 4);
        String text;

        if (auto* button = dynamic_cast<TextButton*> (child))
            text = button->getButtonText();
        else if (auto* label = dynamic_cast<Label*> (child))
            text = label->getText();
        else if (auto* editor = dynamic_cast<TextEditor*> (child))
            text = editor->getText();

        if (text.isNotEmpty())
            texts.push_back ({ text, area.reduced (inset), child->isEnabled() });

        if (auto* list = dynamic_cast<FileListComponent*> (child))
            for (int row = 0; row < list->directoryContentsList.getNumFiles(); ++row)
                if (auto* item = list->getComponentForRowNumber (row))
                    texts.push_back ({ list->directoryContentsList.getFile (row).getFileName(),
                                       window.getLocalArea (item, item->getLocalBounds()).withTrimmedLeft (32), true });

        collectTexts (window, *child, texts);
    }
}

std::unique_ptr<Component> alert (const String& title, const String& message, const String& button1, const String& button2)
{
    return std::unique_ptr<Component> (LookAndFeel::getDefaultLookAndFeel().createAlertWindow (title, message, button1, button2, {},
                                                                                               MessageBoxIconType::WarningIcon,
                                                                                               button2.isEmpty() ? 1 : 2, nullptr));
}
}

TEST_F (ApplicationShell, EveryWindowTheFrameworkDrawsShowsItsTextsReadably)
{
    const TemporaryFile folderName;
    const auto folder = folderName.getFile();
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (folder.getChildFile ("phrase.wav").replaceWithText ("x"));
    ASSERT_TRUE (folder.getChildFile ("takes").createDirectory());

    const std::function<std::unique_ptr<Component>()> windows[]
    {
        // Nothing chosen: its Open button is disabled.
        [&] { return std::make_unique<FrameworkFileDialog> ("Choose a wave file to load.",
                                                            FileBrowserComponent::openMode | FileBrowserComponent::canSelectFiles, folder); },
        // A file chosen: its row is highlighted and its name fills the filename box.
        [&]
        {
            auto window = std::make_unique<FrameworkFileDialog> ("save as a Wave PCM(*.wav)",
                                                                 FileBrowserComponent::saveMode | FileBrowserComponent::canSelectFiles, folder);
            window->fileList().setSelectedFile (folder.getChildFile ("phrase.wav"));
            return window;
        },
        [] { return alert ("File already exists", "There's already a file called: /home/phrase.wav\n\nAre you sure you want to overwrite it?",
                           "Overwrite", "Cancel"); },
        [] { return alert ("Transfer Error", "The pedal was unplugged during the transfer.", "OK", {}); },
    };

    for (auto& make : windows)
    {
        const auto window = make();
        const auto image = window->createComponentSnapshot (window->getLocalBounds(), true, 1.0f);

        // An alert's title and message lie under its invisible label for screen readers.
        std::vector<ShownText> texts;

        if (auto* dialog = dynamic_cast<FrameworkFileDialog*> (window.get()))
            texts.push_back ({ dialog->getName(), dialog->titleArea() });

        collectTexts (*window, *window, texts);
        EXPECT_GE (texts.size(), 2u) << window->getName();

        for (auto& text : texts)
            EXPECT_GE (textContrast (image, text.area), text.enabled ? 4.5f : 3.0f)
                << window->getName() << ": \"" << text.text << "\" at " << text.area.toString();
    }
}

TEST_F (ApplicationShell, QuitAndCloseAreRefusedWhileATransferRuns)
{
    auto* window = findMainWindow();
    ASSERT_NE (window, nullptr);
    MainComponentTestAccess (*window->mainComponent).busy().store (true);

    application->systemRequestedQuit();
    window->closeButtonPressed();

    EXPECT_FALSE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (findMainWindow(), window);
}

TEST_F (ApplicationShell, ShutdownLeavesNeitherManagerNorWindow)
{
    ASSERT_NE (juce::KuvLibUSBManager::shardManager, nullptr);

    application->shutdown();

    EXPECT_EQ (juce::KuvLibUSBManager::shardManager, nullptr);
    EXPECT_EQ (findMainWindow(), nullptr);
}
