#include "WriteConfirm.h"

WriteConfirm::WriteConfirm()
{
    messageLabel.reset (new juce::Label ("new label",
                                         juce::translate ("A phrase already exits on the device.\nDo you want to replace it?")));
    addAndMakeVisible (messageLabel.get());
    messageLabel->setFont (juce::Font (juce::Font::getDefaultSansSerifFontName(), 18.0f, juce::Font::plain)
                               .withTypefaceStyle ("Regular"));
    messageLabel->setJustificationType (juce::Justification::centredLeft);
    messageLabel->setEditable (false, false, false);
    messageLabel->setColour (juce::Label::textColourId, juce::Colours::black);

    cancelButton = addAnswerButton (*this, *this, "Cancel", 0x00000000);
    replaceButton = addAnswerButton (*this, *this, "Replace", 0x00000000);

    setSize (400, 300);
}

WriteConfirm::~WriteConfirm()
{
    messageLabel = nullptr;
    cancelButton = nullptr;
    replaceButton = nullptr;
}

void WriteConfirm::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (backgroundColour));
}

void WriteConfirm::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();

    messageLabel->setBounds (8, 8, w - 16, h - 68);
    cancelButton->setBounds (w / 2 - 60, h - 46, 50, 24);
    replaceButton->setBounds (w / 2 + 10, h - 46, 50, 24);
}

void WriteConfirm::buttonClicked (juce::Button* button)
{
    answer (*this, button, cancelButton.get(), replaceButton.get());
}

//==============================================================================
std::unique_ptr<juce::TextButtonWithIcon> WriteConfirm::addAnswerButton (juce::Component& dialog, juce::Button::Listener& listener,
                                                                         const juce::String& text, juce::uint32 focusedFill)
{
    auto button = std::make_unique<juce::TextButtonWithIcon> (text, &listener, 0.1f, false, 0xffcccccc, 0xff000000,
                                                              0x00000000, focusedFill, 0xff26c5ff, 0xffffffff);
    dialog.addAndMakeVisible (button.get());
    button->setName ("new component");
    return button;
}

void WriteConfirm::answer (juce::Component& content, const juce::Button* clicked,
                           const juce::Button* cancel, const juce::Button* replace)
{
    if (clicked == nullptr || (clicked != cancel && clicked != replace))
        return;

    if (auto* window = content.findParentComponentOfClass<juce::DialogWindow>())
        window->exitModalState (clicked == replace ? 1 : 0);
}
