#pragma once

namespace juce
{

/** A label whose text is a percentage, drawn as a pill-shaped track with a bar over it. */
class ProgressLabel : public Label
{
public:
    class CustomLookAndFeel : public LookAndFeel_V2
    {
    public:
        CustomLookAndFeel() = default;
        ~CustomLookAndFeel() override = default;

        void drawLabel (Graphics&, Label&) override;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLookAndFeel)
    };

    ProgressLabel();
    ~ProgressLabel() override;

    void resized() override;

private:
    CustomLookAndFeel lookAndFeel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressLabel)
};

} // namespace juce
