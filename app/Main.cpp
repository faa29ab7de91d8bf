#include <juce_gui_basics/juce_gui_basics.h>

// Placeholder shell: a window that starts and quits cleanly.
class QuendrixApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override    { return "Quendrix v1.1.0"; }
    const juce::String getApplicationVersion() override { return "1.1.0"; }
    bool moreThanOneInstanceAllowed() override          { return false; }

    void initialise (const juce::String&) override
    {
        window = std::make_unique<juce::DocumentWindow> (getApplicationName(), juce::Colours::lightgrey,
                                                         juce::DocumentWindow::allButtons);
        window->setSize (621, 385);
        window->setVisible (true);
    }

    void shutdown() override { window = nullptr; }

private:
    std::unique_ptr<juce::DocumentWindow> window;
};

START_JUCE_APPLICATION (QuendrixApplication)
