#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

namespace
{
    constexpr uint32 grey = 0xffcccccc, black = 0xff000000;

    // A clear normal fill, as on the main window, so the outline shows alone.
    std::unique_ptr<TextButtonWithIcon> makeButton (int width, int height, bool hasArrow = false, const String& text = {})
    {
        auto button = std::make_unique<TextButtonWithIcon> (text, nullptr, 0.1f, hasArrow, grey, black,
                                                             0, 0xff00aa00, 0xff26c5ff, 0xffffffff);
        button->setSize (width, height);
        return button;
    }

    // The text and the arrow, at any alpha; the outline is grey.
    int countInk (const Image& image, Rectangle<int> area)
    {
        return countPixels (image, area, [] (Colour c) { return c.getAlpha() > 0 && sameArgb (c.withAlpha ((uint8) 0xff), Colour (black)); });
    }
}

TEST (TextButtonWithIcon, OutlineIsOnePixelWideAroundTheFill)
{
    const auto image = paint (*makeButton (70, 24));

    // A line half a pixel off the grid puts about half its alpha on each pixel beside it.
    auto isOutline = [] (Colour c) { return sameArgb (c.withAlpha ((uint8) 0xff), Colour (grey)) && c.getAlpha() > 0x60 && c.getAlpha() < 0xa0; };

    for (auto line : { Rectangle<int> (0, 12, 70, 1), Rectangle<int> (35, 0, 1, 24) })
    {
        EXPECT_EQ (countPixels (image, line, isOutline), 4) << line.toString();
        EXPECT_EQ (countPixels (image, line, [] (Colour c) { return c.getAlpha() != 0; }), 4) << line.toString();
    }
}

TEST (TextButtonWithIcon, TextOnALowButtonIsAsLargeAsOnATwentyPixelOne)
{
    auto ink = [] (int height) { return countInk (paint (*makeButton (100, height, false, "Hg")), { 0, 0, 100, height }); };
    EXPECT_GT (ink (20), 0);
    EXPECT_NEAR (ink (16), ink (20), ink (20) / 10);   // the same font, a fraction of a pixel higher or lower
}

TEST (TextButtonWithIcon, ArrowPointsDownInTheMiddleThirdOfTheRightEnd)
{
    const auto image = paint (*makeButton (50, 24, true));

    // Corners (42, 8) and (26, 8), tip (34, 16), in the text colour.
    EXPECT_EQ (countInk (image, image.getBounds()), countInk (image, { 26, 8, 16, 8 }));
    EXPECT_EQ (image.getPixelAt (28, 8).getARGB(), black);
    EXPECT_EQ (image.getPixelAt (34, 14).getARGB(), black);
}

TEST (TextButtonWithIcon, DisabledBeatsPressedOrToggledWhichBeatFocusedAndHoveringChangesNothing)
{
    // A fill per state, so the pixels tell which state was drawn.
    enum State { normal, down, focused, disabled };
    const Colour fills[] = { Colour (0xff1e3a5f), Colour (0xff8b0000), Colour (0xff006400), Colour (0xff696969) };

    struct Case { State expected; bool enabled, focused, toggled; Button::ButtonState state; };

    const Case cases[] = {
        { normal,   true,  false, false, Button::buttonNormal },
        { normal,   true,  false, false, Button::buttonOver },
        { focused,  true,  true,  false, Button::buttonOver },
        { down,     true,  true,  false, Button::buttonDown },
        { down,     true,  true,  true,  Button::buttonNormal },
        { disabled, false, true,  true,  Button::buttonDown },
    };

    for (auto& c : cases)
    {
        auto button = makeButton (140, 60, false, "MW");
        button->setEnabled (c.enabled);
        button->setToggleState (c.toggled, dontSendNotification);

        if (c.focused)
            button->focusGained (Component::focusChangedDirectly);

        button->setState (c.state);

        for (int state = normal; state <= disabled; ++state)
            button->setColour (TextButtonWithIcon::backgroundNormalColourId + state, fills[state]);

        EXPECT_EQ (paint (*button).getPixelAt (4, 30).toString(), fills[c.expected].toString()) << "case " << (&c - cases);
    }
}
