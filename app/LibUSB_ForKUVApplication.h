#pragma once

#include "MainComponent.h"
#include "QuitSignal.h"

/** The application object: one instance, one window whose content is the main component, and
    no quitting while a transfer runs.
*/
class LibUSB_ForKUVApplication : public juce::JUCEApplication
{
public:
    LibUSB_ForKUVApplication();
    ~LibUSB_ForKUVApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    /** The one window; it owns the main component as its content. */
    class MainWindow : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& name);
        ~MainWindow() override;

        void closeButtonPressed() override;

        /** The window's content, owned by the window. */
        MainComponent* mainComponent = nullptr;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    bool isTransferRunning() const;

    juce::LookAndFeel_V4 lookAndFeel;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<QuitSignal> quitSignal;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LibUSB_ForKUVApplication)
};
