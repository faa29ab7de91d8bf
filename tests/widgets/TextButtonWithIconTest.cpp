#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

namespace
{
    constexpr uint32 outlineGrey = 0xffcccccc, black = 0xff000000, clear = 0, pressedBlue = 0xff26c5ff;

    std::unique_ptr<TextButtonWithIcon> makeButton (const String& text, int width, int height, bool hasArrow = false)
    {
        auto button = std::make_unique<TextButtonWithIcon> (text, nullptr, 0.1f, hasArrow, outlineGrey, black,
                                                             clear, clear, pressedBlue, 0xffffffff);
        button->setSize (width, height);
        return button;
    }

    bool isOutline (Colour c)    { return sameRgb (c, Colour (outlineGrey)) && c.getAlpha() > 0x60 && c.getAlpha() < 0xa0; }
    bool isDarkText (Colour c)   { return c.getAlpha() > 0x40 && c.getBrightness() < 0.3f; }

    // Opaque, distinct colours per state (fill, border, text), so the pixels tell which state was drawn.
    struct Palette { const char* name; uint32 fill, border, text; };

    const Palette palettes[] = {
        { "normal",   0xff1e3a5f, 0xff00ff00, 0xffffd700 },
        { "down",     0xff8b0000, 0xffff00ff, 0xff00ffff },
        { "focused",  0xff006400, 0xff0000ff, 0xffff69b4 },
        { "disabled", 0xff696969, 0xffff8c00, 0xffffffff },
    };

    std::unique_ptr<TextButtonWithIcon> makePaletteButton()
    {
        auto button = makeButton ("MW", 140, 60);

        for (int state = 0; state < 4; ++state)
        {
            button->setColour (TextButtonWithIcon::backgroundNormalColourId + state, Colour (palettes[state].fill));
            button->setColour (TextButtonWithIcon::textNormalColourId + state, Colour (palettes[state].text));
            button->setColour (TextButtonWithIcon::borderNormalColourId + state, Colour (palettes[state].border));
        }

        return button;
    }

    std::string drawnState (TextButtonWithIcon& button)
    {
        const auto image = paint (button);
        const auto fill = image.getPixelAt (4, 30);
        const auto outerOutline = image.getPixelAt (0, 30);

        for (auto& p : palettes)
            if (sameArgb (fill, Colour (p.fill)) && sameRgb (outerOutline, Colour (p.border)))
                return countPixels (image, image.getBounds(), [&] (Colour c) { return sameArgb (c, Colour (p.text), 8); }) >= 10
                           ? p.name : std::string (p.name) + " with a wrong text colour";

        return "unknown: fill " + fill.toDisplayString (true).toStdString();
    }

    struct RepaintCounter : public CachedComponentImage
    {
        explicit RepaintCounter (int& c) : counter (c) {}
        void paint (Graphics&) override {}
        bool invalidateAll() override                     { ++counter; return true; }
        bool invalidate (const Rectangle<int>&) override  { ++counter; return true; }
        void releaseResources() override {}
        int& counter;
    };
}

TEST (TextButtonWithIcon, ConstructorSpreadsTheArgumentColoursOverTheTwelveIds)
{
    TextButtonWithIcon button ("Go", nullptr, 0.1f, false, 0xff000001, 0xff000002, 0xff000003, 0xff000004, 0xff000005, 0xffffffff);

    const uint32 expected[] = { 0xff000003, 0xff000005, 0xff000004, 0xffeeeeee,     // fills
                                0xff000002, 0xff000002, 0xff000002, 0xffdddddd,     // texts
                                0xff000001, 0xff000001, 0xff000001, 0xff000001 };   // borders

    for (int i = 0; i < 12; ++i)
        EXPECT_EQ (button.findColour (0x2000001 + i).getARGB(), expected[i]) << "colour id " << String::toHexString (0x2000001 + i);

    EXPECT_EQ (button.getButtonText(), "Go");
    EXPECT_FALSE (button.hasFocus);
}

//==============================================================================
TEST (TextButtonWithIconGeometry, SeventyByTwentyFourIsAOnePixelRoundedOutlineOnAClearFill)
{
    auto button = makeButton ({}, 70, 24);
    const auto image = paint (*button);

    // The outline runs along x = 1, x = 69, y = 1 and y = 23: half of it falls on each pixel beside.
    for (int y : { 4, 12, 19 })
    {
        for (int x : { 0, 1, 68, 69 })
            EXPECT_TRUE (isOutline (image.getPixelAt (x, y))) << x << "," << y;

        for (int x : { 2, 35, 67 })
            EXPECT_EQ (image.getPixelAt (x, y).getAlpha(), 0) << x << "," << y;
    }

    for (int x : { 4, 35, 65 })
        for (int y : { 0, 1, 22, 23 })
            EXPECT_TRUE (isOutline (image.getPixelAt (x, y))) << x << "," << y;

    // Rounded corners: the corner pixels stay empty, the edges are straight three pixels in, and
    // with the framework's rasteriser a radius of 2.0 puts 0x66 of the stroke on these arc pixels,
    // 2.4 (a tenth of the full height) 0x4c; 2.2 lies between.
    for (auto corner : { Point<int> (0, 0), Point<int> (69, 0), Point<int> (0, 23), Point<int> (69, 23) })
        EXPECT_LT (image.getPixelAt (corner.x, corner.y).getAlpha(), 0x08) << corner.toString();

    EXPECT_TRUE (isOutline (image.getPixelAt (0, 3)) && isOutline (image.getPixelAt (3, 0)));

    for (auto onArc : { Point<int> (2, 0), Point<int> (0, 2), Point<int> (67, 0), Point<int> (69, 21) })
    {
        EXPECT_GT (image.getPixelAt (onArc.x, onArc.y).getAlpha(), 0x53) << onArc.toString();
        EXPECT_LT (image.getPixelAt (onArc.x, onArc.y).getAlpha(), 0x62) << onArc.toString();
    }
}

TEST (TextButtonWithIconGeometry, FontIsSixTenthsOfTheHeightButNeverBelowTwelve)
{
    auto button = makeButton ("Replace", 70, 24);
    auto* lookAndFeel = dynamic_cast<TextButtonWithIcon::LookAndFeelLocal*> (&button->getLookAndFeel());
    ASSERT_NE (lookAndFeel, nullptr);

    const std::pair<int, float> heights[] = { { 24, 14.4f }, { 40, 24.0f }, { 20, 12.0f }, { 8, 12.0f } };

    for (auto [buttonHeight, fontHeight] : heights)
        EXPECT_FLOAT_EQ (lookAndFeel->getTextButtonFont (*button, buttonHeight).getHeight(), fontHeight) << buttonHeight;
}

TEST (TextButtonWithIconGeometry, TextIsFittedBetweenCornerSizedMarginsAndCentred)
{
    auto button = makeButton ({}, 70, 24);
    const auto empty = paint (*button);

    // A text far too wide is fitted to the whole width of its area, (2, 0, 66, 24).
    button->setButtonText ("Export WAV file from pedal");
    const auto withText = paint (*button);
    const auto textArea = differingArea (empty, withText);

    EXPECT_EQ (textArea.getX(), 2);
    EXPECT_EQ (textArea.getRight(), 68);
    EXPECT_GT (countPixels (withText, textArea, isDarkText), 40);

    button->setButtonText ("OK");
    const auto shortText = differingArea (empty, paint (*button));
    EXPECT_NEAR (shortText.getCentreX(), 35, 1);
    EXPECT_NEAR (shortText.getCentreY(), 12, 2);
}

TEST (TextButtonWithIconGeometry, ArrowIsADownwardTriangleAndTheTextMakesRoomForIt)
{
    auto button = makeButton ({}, 50, 24, true);
    const auto image = paint (*button);

    // Triangle (42, 8), (26, 8), (34, 16) in the text colour.
    for (auto inside : { Point<int> (34, 8), Point<int> (28, 8), Point<int> (40, 8), Point<int> (34, 12), Point<int> (31, 10) })
        EXPECT_EQ (image.getPixelAt (inside.x, inside.y).getARGB(), black) << inside.toString();

    for (auto outside : { Point<int> (34, 7), Point<int> (25, 8), Point<int> (42, 8), Point<int> (34, 16),
                          Point<int> (29, 13), Point<int> (39, 13) })
        EXPECT_EQ (image.getPixelAt (outside.x, outside.y).getAlpha(), 0) << outside.toString();

    button->setButtonText ("Export WAV file from pedal");
    const auto textArea = differingArea (image, paint (*button));
    EXPECT_EQ (textArea.getX(), 2);
    EXPECT_EQ (textArea.getRight(), 26);
}

//==============================================================================
TEST (TextButtonWithIconStates, PressedFillCoversTheInnerHalfOfTheOutline)
{
    auto button = makeButton ({}, 70, 24);
    button->setState (Button::buttonDown);
    const auto image = paint (*button);

    for (auto inner : { Point<int> (1, 12), Point<int> (35, 1), Point<int> (35, 12), Point<int> (68, 12) })
        EXPECT_EQ (image.getPixelAt (inner.x, inner.y).getARGB(), pressedBlue) << inner.toString();

    EXPECT_TRUE (isOutline (image.getPixelAt (0, 12)) && isOutline (image.getPixelAt (69, 12)));
}

TEST (TextButtonWithIconStates, DisabledIsLightGreyWithPaleTextAndArrow)
{
    auto button = makeButton ("MW", 140, 60, true);
    button->setEnabled (false);
    const auto image = paint (*button);

    EXPECT_EQ (image.getPixelAt (4, 30).getARGB(), 0xffeeeeeeu);
    EXPECT_TRUE (sameRgb (image.getPixelAt (0, 30), Colour (outlineGrey)));
    EXPECT_GE (countPixels (image, image.getBounds(), [] (Colour c) { return c.getARGB() == 0xffddddddu; }), 10);
    EXPECT_EQ (image.getPixelAt (100, 22).getARGB(), 0xffddddddu);  // inside the arrow
}

TEST (TextButtonWithIconStates, DisabledWinsOverPressedToggledAndFocused)
{
    auto button = makePaletteButton();
    button->setToggleState (true, dontSendNotification);
    button->focusGained (Component::focusChangedDirectly);
    button->setEnabled (false);
    button->setState (Button::buttonDown);
    EXPECT_EQ (drawnState (*button), "disabled");

    // An enabled button inside a disabled parent counts as disabled too.
    Component parent;
    auto child = makePaletteButton();
    parent.addAndMakeVisible (*child);
    parent.setEnabled (false);
    EXPECT_EQ (drawnState (*child), "disabled");

    parent.setEnabled (true);
    EXPECT_EQ (drawnState (*child), "normal");
}

TEST (TextButtonWithIconStates, PressedAndToggledOnDrawAlikeAndWinOverFocus)
{
    auto button = makePaletteButton();
    button->focusGained (Component::focusChangedDirectly);

    button->setState (Button::buttonDown);
    EXPECT_EQ (drawnState (*button), "down");

    button->setState (Button::buttonNormal);
    button->setToggleState (true, dontSendNotification);
    EXPECT_EQ (drawnState (*button), "down");

    button->setToggleState (false, dontSendNotification);
    EXPECT_EQ (drawnState (*button), "focused");
}

TEST (TextButtonWithIconStates, HoveringChangesNothing)
{
    auto button = makePaletteButton();

    for (bool focused : { false, true })
    {
        if (focused)
            button->focusGained (Component::focusChangedDirectly);

        button->setState (Button::buttonNormal);
        const auto notHovered = paint (*button);
        button->setState (Button::buttonOver);
        EXPECT_TRUE (differingArea (notHovered, paint (*button)).isEmpty()) << "focused " << focused;
    }
}

TEST (TextButtonWithIconStates, FocusGainedAndLostRepaintAtOnceInTheirColours)
{
    auto button = makePaletteButton();
    button->setVisible (true);

    int repaints = 0;
    button->setCachedComponentImage (new RepaintCounter (repaints));

    repaints = 0;
    button->focusGained (Component::focusChangedByTabKey);
    EXPECT_GE (repaints, 1);
    EXPECT_EQ (drawnState (*button), "focused");

    repaints = 0;
    button->focusLost (Component::focusChangedByMouseClick);
    EXPECT_GE (repaints, 1);
    EXPECT_EQ (drawnState (*button), "normal");

    button->setCachedComponentImage (nullptr);
}
