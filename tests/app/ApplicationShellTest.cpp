#include <gtest/gtest.h>

#include "LibUSB_ForKUVApplication.h"
#include "helpers/MainComponentTestAccess.h"
#include "helpers/UsbFixture.h"

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

    // The framework's own alerts must stay readable: dark text on their light background.
    EXPECT_GT (lookAndFeel->findColour (juce::AlertWindow::backgroundColourId).getPerceivedBrightness()
                   - lookAndFeel->findColour (juce::AlertWindow::textColourId).getPerceivedBrightness(), 0.5f);

    // A default typeface name the platform does not have leaves texts with no width at all.
    EXPECT_GT (juce::Font (14.0f).getStringWidthFloat ("Export WAV file from pedal"), 10.0f);

    ASSERT_NE (juce::LocalisedStrings::getCurrentMappings(), nullptr);
    const auto text = "A phrase already exits on the device.\nDo you want to replace it?";
    EXPECT_EQ (juce::translate (text), text);
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
