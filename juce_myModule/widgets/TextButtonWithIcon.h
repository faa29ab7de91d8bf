#pragma once

namespace juce
{

/** A flat, rounded, one-line text button whose fill, text and border colours follow its state,
    with an optional drop-down triangle at its right end.
*/
class TextButtonWithIcon : public TextButton
{
public:
    enum ColourIds
    {
        backgroundNormalColourId   = 0x2000001,
        backgroundDownColourId     = 0x2000002,
        backgroundFocusedColourId  = 0x2000003,
        backgroundDisabledColourId = 0x2000004,
        textNormalColourId         = 0x2000005,
        textDownColourId           = 0x2000006,
        textFocusedColourId        = 0x2000007,
        textDisabledColourId       = 0x2000008,
        borderNormalColourId       = 0x2000009,
        borderDownColourId         = 0x200000a,
        borderFocusedColourId      = 0x200000b,
        borderDisabledColourId     = 0x200000c
    };

    class LookAndFeelLocal : public LookAndFeel_V2
    {
    public:
        LookAndFeelLocal() = default;
        ~LookAndFeelLocal() override = default;

        void drawButtonBackground (Graphics&, Button&, const Colour& backgroundColour,
                                   bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
        Font getTextButtonFont (TextButton&, int buttonHeight) override;
        void drawButtonText (Graphics&, TextButton&, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LookAndFeelLocal)
    };

    TextButtonWithIcon (const String& text, Button::Listener* listener, float cornerProportion, bool hasArrow,
                        uint32 borderColour, uint32 textColour, uint32 normalBackgroundColour,
                        uint32 focusedBackgroundColour, uint32 downBackgroundColour, uint32 unused);
    ~TextButtonWithIcon() override;

    void focusGained (FocusChangeType) override;
    void focusLost (FocusChangeType) override;

private:
    // Declared first so that it exists before, and outlives, everything the button draws with;
    // the destructor uninstalls it before any member goes.
    LookAndFeelLocal lookAndFeel;

public:
    bool hasFocus = false;
    bool hasArrow = false;
    float cornerProportion = 0.1f;
    float textHeightProportion = 0.6f;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TextButtonWithIcon)
};

} // namespace juce
