namespace juce
{

namespace
{
    struct ButtonStateColourIds
    {
        int fill, border, text;
    };

    // Disabled beats pressed, pressed (or toggled on) beats focused; hovering is not a state here.
    ButtonStateColourIds colourIdsForButtonState (const TextButtonWithIcon& button, bool isPressed)
    {
        if (! button.isEnabled())
            return { TextButtonWithIcon::backgroundDisabledColourId,
                     TextButtonWithIcon::borderDisabledColourId,
                     TextButtonWithIcon::textDisabledColourId };

        if (isPressed || button.getToggleState())
            return { TextButtonWithIcon::backgroundDownColourId,
                     TextButtonWithIcon::borderDownColourId,
                     TextButtonWithIcon::textDownColourId };

        if (button.hasFocus)
            return { TextButtonWithIcon::backgroundFocusedColourId,
                     TextButtonWithIcon::borderFocusedColourId,
                     TextButtonWithIcon::textFocusedColourId };

        return { TextButtonWithIcon::backgroundNormalColourId,
                 TextButtonWithIcon::borderNormalColourId,
                 TextButtonWithIcon::textNormalColourId };
    }
}

//==============================================================================
TextButtonWithIcon::TextButtonWithIcon (const String& buttonText, Button::Listener* listener, float cornerProportionToUse,
                                        bool shouldHaveArrow, uint32 borderColour, uint32 textColour,
                                        uint32 normalBackgroundColour, uint32 focusedBackgroundColour,
                                        uint32 downBackgroundColour, uint32 /*unused*/)
{
    setLookAndFeel (&lookAndFeel);

    setColour (backgroundDisabledColourId, Colour (0xffeeeeee));
    setColour (textDisabledColourId, Colour (0xffdddddd));

    hasFocus = false;
    setButtonText (buttonText);

    if (listener != nullptr)
        addListener (listener);

    hasArrow = shouldHaveArrow;
    cornerProportion = cornerProportionToUse;

    setColour (textNormalColourId, Colour (textColour));
    setColour (textDownColourId, Colour (textColour));
    setColour (textFocusedColourId, Colour (textColour));

    setColour (borderNormalColourId, Colour (borderColour));
    setColour (borderDownColourId, Colour (borderColour));
    setColour (borderFocusedColourId, Colour (borderColour));
    setColour (borderDisabledColourId, Colour (borderColour));

    setColour (backgroundNormalColourId, Colour (normalBackgroundColour));
    setColour (backgroundDownColourId, Colour (downBackgroundColour));
    setColour (backgroundFocusedColourId, Colour (focusedBackgroundColour));
}

TextButtonWithIcon::~TextButtonWithIcon()
{
    setLookAndFeel (nullptr);
}

void TextButtonWithIcon::focusGained (FocusChangeType)
{
    hasFocus = true;
    repaint();
}

void TextButtonWithIcon::focusLost (FocusChangeType)
{
    hasFocus = false;
    repaint();
}

//==============================================================================
void TextButtonWithIcon::LookAndFeelLocal::drawButtonBackground (Graphics& g, Button& button, const Colour& backgroundColour,
                                                                 bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    auto* owner = dynamic_cast<TextButtonWithIcon*> (&button);

    if (owner == nullptr)
    {
        LookAndFeel_V2::drawButtonBackground (g, button, backgroundColour, shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);
        return;
    }

    const auto ids = colourIdsForButtonState (*owner, shouldDrawButtonAsDown);
    const auto w = button.getWidth();
    const auto h = button.getHeight();
    const auto radius = owner->cornerProportion * (float) (h - 2);

    Path outline;
    outline.addRoundedRectangle (1.0f, 1.0f, (float) (w - 2), (float) (h - 2), radius, radius, true, true, true, true);

    // The fill goes over the stroke, so an opaque fill hides the inner half of the outline.
    g.setColour (button.findColour (ids.border));
    g.strokePath (outline, PathStrokeType (1.0f));

    g.setColour (button.findColour (ids.fill));
    g.fillPath (outline);
}

Font TextButtonWithIcon::LookAndFeelLocal::getTextButtonFont (TextButton& button, int buttonHeight)
{
    auto* owner = dynamic_cast<TextButtonWithIcon*> (&button);

    if (owner == nullptr)
        return LookAndFeel_V2::getTextButtonFont (button, buttonHeight);

    return Font (jmax (owner->textHeightProportion * (float) buttonHeight, 12.0f));
}

void TextButtonWithIcon::LookAndFeelLocal::drawButtonText (Graphics& g, TextButton& button,
                                                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    auto* owner = dynamic_cast<TextButtonWithIcon*> (&button);

    if (owner == nullptr)
    {
        LookAndFeel_V2::drawButtonText (g, button, shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);
        return;
    }

    const auto ids = colourIdsForButtonState (*owner, button.getState() == Button::buttonDown);
    const auto w = button.getWidth();
    const auto h = button.getHeight();

    g.setColour (button.findColour (ids.text));
    g.setFont (getTextButtonFont (button, h));

    const auto margin = (int) (owner->cornerProportion * (float) h);
    auto textWidth = w - 2 * margin;

    if (owner->hasArrow)
    {
        const auto t = h / 3;

        Path arrow;
        arrow.addTriangle ((float) (w - t), (float) t,
                           (float) (w - 3 * t), (float) t,
                           (float) (w - 2 * t), (float) (2 * t));
        g.fillPath (arrow);

        textWidth = w - 3 * t - margin;
    }

    g.drawFittedText (button.getButtonText(), margin, 0, textWidth, h, Justification::centred, 2);
}

} // namespace juce
