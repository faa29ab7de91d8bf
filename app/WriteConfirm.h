#pragma once

#include <juce_myModule/juce_myModule.h>

/** Asks before an import chosen with the import button replaces the phrase on the pedal.

    The content of a dialog window: "Replace" ends the window's modal state with 1 and "Cancel"
    with 0.
*/
class WriteConfirm : public juce::Component,
                     public juce::Button::Listener
{
public:
    WriteConfirm();
    ~WriteConfirm() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;

    /** Shows the question; whoever launches the dialog puts the supported formats in front of it. */
    std::unique_ptr<juce::Label> messageLabel;

    //==============================================================================
    // Shared with the drop dialog, which looks and answers the same way.

    /** Adds a "Cancel" or "Replace" button to a confirmation dialog; the dialogs differ only in
        the fill a button shows while it holds the keyboard focus.
    */
    static std::unique_ptr<juce::TextButtonWithIcon> addAnswerButton (juce::Component& dialog, juce::Button::Listener& listener,
                                                                       const juce::String& text, juce::uint32 focusedFill);

    /** Ends the modal state of the dialog window around content: 1 for replace, 0 for cancel.
        Any other button, or content outside a dialog window, changes nothing.
    */
    static void answer (juce::Component& content, const juce::Button* clicked,
                        const juce::Button* cancel, const juce::Button* replace);

    static constexpr juce::uint32 backgroundColour = 0xffdedfe0;

private:
    std::unique_ptr<juce::TextButtonWithIcon> cancelButton;
    std::unique_ptr<juce::TextButtonWithIcon> replaceButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WriteConfirm)
};
