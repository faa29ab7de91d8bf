#pragma once

#include <juce_myModule/juce_myModule.h>

/** Asks before a file dropped on the window replaces the phrase on the pedal, and shows that
    file's path.

    The content of a dialog window: "Replace" ends the window's modal state with 1 and "Cancel"
    with 0.
*/
class DragWriteConfirm : public juce::Component,
                         public juce::Button::Listener
{
public:
    explicit DragWriteConfirm (juce::String filePath);
    ~DragWriteConfirm() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;

private:
    juce::String filePath;

    std::unique_ptr<juce::Label> filePathLabel;
    std::unique_ptr<juce::Label> questionLabel;
    std::unique_ptr<juce::TextButtonWithIcon> cancelButton;
    std::unique_ptr<juce::TextButtonWithIcon> replaceButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DragWriteConfirm)
};
