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

TEST_F (ApplicationShell, OneFixedSizeWindowNamedAfterTheApplication)
{
    EXPECT_EQ (application->getApplicationName(), "Quendrix v1.1.0");
    EXPECT_EQ (application->getApplicationVersion(), "1.1.0");
    EXPECT_FALSE (application->moreThanOneInstanceAllowed());

    auto* window = findMainWindow();
    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "Quendrix v1.1.0");
    EXPECT_TRUE (window->isVisible());
    EXPECT_FALSE (window->isResizable());
    EXPECT_EQ (window->getContentComponent(), window->mainComponent);
    EXPECT_EQ (window->getContentComponent()->getBounds().getWidth(), 621);
    EXPECT_EQ (window->getContentComponent()->getBounds().getHeight(), 385);
    EXPECT_EQ (window->getBackgroundColour(), juce::Colour (0xffe9e9e9));
}

TEST_F (ApplicationShell, LookAndFeelCarriesTheApplicationColours)
{
    auto& lookAndFeel = juce::LookAndFeel::getDefaultLookAndFeel();
    auto* v4 = dynamic_cast<juce::LookAndFeel_V4*> (&lookAndFeel);
    ASSERT_NE (v4, nullptr);

    using Colour = juce::LookAndFeel_V4::ColourScheme::UIColour;
    auto& scheme = v4->getCurrentColourScheme();

    EXPECT_EQ (scheme.getUIColour (Colour::windowBackground), juce::Colour (0xffe9e9e9));
    EXPECT_EQ (scheme.getUIColour (Colour::widgetBackground), juce::Colour (0xffe9e9e9));
    EXPECT_EQ (scheme.getUIColour (Colour::menuBackground),   juce::Colour (0xffffffff));
    EXPECT_EQ (scheme.getUIColour (Colour::outline),          juce::Colour (0xffbbbbbb));
    EXPECT_EQ (scheme.getUIColour (Colour::defaultText),      juce::Colour (0xffffffff));
    EXPECT_EQ (scheme.getUIColour (Colour::defaultFill),      juce::Colour (0xffa9a9a9));
    EXPECT_EQ (scheme.getUIColour (Colour::highlightedText),  juce::Colour (0xffffffff));
    EXPECT_EQ (scheme.getUIColour (Colour::highlightedFill),  juce::Colour (0xff42a2c8));
    EXPECT_EQ (scheme.getUIColour (Colour::menuText),         juce::Colour (0xff000000));
}

TEST_F (ApplicationShell, TextsInTheDefaultFontHaveGlyphs)
{
    // A default typeface name the platform does not have leaves such texts with no width at all.
    EXPECT_GT (juce::Font (14.0f).getStringWidthFloat ("Export WAV file from pedal"), 10.0f);
}

TEST_F (ApplicationShell, TextsAreShownAsWritten)
{
    ASSERT_NE (juce::LocalisedStrings::getCurrentMappings(), nullptr);

    for (auto text : { "Pedal is connected", "Pedal is not connected", "A phrase already exits on the device.\nDo you want to replace it?" })
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
