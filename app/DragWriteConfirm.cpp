#include "DragWriteConfirm.h"

#include "WriteConfirm.h"

namespace
{
    void styleCentredLabel (juce::Label& label)
    {
        label.setFont (juce::Font (juce::Font::getDefaultSansSerifFontName(), 15.0f, juce::Font::plain)
                           .withTypefaceStyle ("Regular"));
        label.setJustificationType (juce::Justification::centred);
        label.setEditable (false, false, false);
        label.setColour (juce::Label::textColourId, juce::Colours::black);
    }
}

DragWriteConfirm::DragWriteConfirm (juce::String filePathToShow)
    : filePath (std::move (filePathToShow))
{
    filePathLabel.reset (new juce::Label ("new label", {}));
    addAndMakeVisible (filePathLabel.get());
    styleCentredLabel (*filePathLabel);

    questionLabel.reset (new juce::Label ("new label",
                                          juce::translate ("A phrase already exits on the device.\nDo you want to replace it with the following file?")));
    addAndMakeVisible (questionLabel.get());
    styleCentredLabel (*questionLabel);

    // Unlike the import button's dialog, these buttons also show the blue fill while focused.
    cancelButton = WriteConfirm::addAnswerButton (*this, *this, "Cancel", 0xff26c5ff);
    replaceButton = WriteConfirm::addAnswerButton (*this, *this, "Replace", 0xff26c5ff);

    filePathLabel->setText (filePath, juce::dontSendNotification);

    setSize (350, 150);
}

DragWriteConfirm::~DragWriteConfirm()
{
    filePathLabel = nullptr;
    questionLabel = nullptr;
    cancelButton = nullptr;
    replaceButton = nullptr;
}

void DragWriteConfirm::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (WriteConfirm::backgroundColour));
}

void DragWriteConfirm::resized()
{
    const auto buttonWidth = proportionOfWidth (0.20f);
    const auto buttonY = proportionOfHeight (0.72f);
    const auto buttonHeight = proportionOfHeight (0.16f);

    filePathLabel->setBounds (0, proportionOfHeight (0.34f), getWidth(), proportionOfHeight (0.30f));
    questionLabel->setBounds (0, proportionOfHeight (0.1067f), getWidth(), proportionOfHeight (0.2667f));
    cancelButton->setBounds (proportionOfWidth (0.46f) - buttonWidth, buttonY, buttonWidth, buttonHeight);
    replaceButton->setBounds (proportionOfWidth (0.54f), buttonY, buttonWidth, buttonHeight);
}

void DragWriteConfirm::buttonClicked (juce::Button* button)
{
    WriteConfirm::answer (*this, button, cancelButton.get(), replaceButton.get());
}
