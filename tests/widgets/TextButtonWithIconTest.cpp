#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

namespace
{
    constexpr uint32 grey = 0xffcccccc, black = 0xff000000, focusGreen = 0xff00aa00, pressedBlue = 0xff26c5ff;

    std::unique_ptr<TextButtonWithIcon> makeButton (int width, int height, bool hasArrow = false, const String& text = {})
    {
        auto button = std::make_unique<TextButtonWithIcon> (text, nullptr, 0.1f, hasArrow, grey, black,
                                                             0, focusGreen, pressedBlue, 0xffffffff);
        button->setSize (width, height);
        return button;
    }

    // A one-pixel line half a pixel off the grid puts about half its alpha on each pixel beside it.
    bool isOutline (Colour c)   { return sameRgb (c, Colour (grey)) && c.getAlpha() > 0x60 && c.getAlpha() < 0xa0; }

    // Distinct fill, border and text per state, so the pixels tell which state was drawn.
    struct Palette { const char* name; uint32 fill, border, text; };

    const Palette palettes[] = {
        { "normal",   0xff1e3a5f, 0xff00ff00, 0xffffd700 },
        { "down",     0xff8b0000, 0xffff00ff, 0xff00ffff },
        { "focused",  0xff006400, 0xff0000ff, 0xffff69b4 },
        { "disabled", 0xff696969, 0xffff8c00, 0xffffffff },
    };

    std::string drawnState (TextButtonWithIcon& button)
    {
        for (int state = 0; state < 4; ++state)
        {
            button.setColour (TextButtonWithIcon::backgroundNormalColourId + state, Colour (palettes[state].fill));
            button.setColour (TextButtonWithIcon::textNormalColourId + state, Colour (palettes[state].text));
            button.setColour (TextButtonWithIcon::borderNormalColourId + state, Colour (palettes[state].border));
        }

        const auto image = paint (button);

        for (auto& p : palettes)
            if (sameArgb (image.getPixelAt (4, 30), Colour (p.fill)) && sameRgb (image.getPixelAt (0, 30), Colour (p.border)))
                return countPixels (image, image.getBounds(), [&] (Colour c) { return sameArgb (c, Colour (p.text), 8); }) >= 10
                           ? p.name : std::string (p.name) + " with a wrong text colour";

        return "unknown";
    }
}

TEST (TextButtonWithIcon, OutlineIsAOnePixelRoundedRectangleUnderTheFill)
{
    auto button = makeButton (70, 24);
    auto image = paint (*button);

    // Across rows and columns: the outline along x = 1, x = 69, y = 1 and y = 23 half on each pixel beside it,
    // and a clear normal fill between.
    for (int y : { 4, 12, 19 })
        for (int x = 0; x < 70; ++x)
            EXPECT_TRUE (x < 2 || x > 67 ? isOutline (image.getPixelAt (x, y)) : image.getPixelAt (x, y).getAlpha() == 0) << x << "," << y;

    for (int x : { 4, 35, 65 })
        for (int y = 0; y < 24; ++y)
            EXPECT_TRUE (y < 2 || y > 21 ? isOutline (image.getPixelAt (x, y)) : image.getPixelAt (x, y).getAlpha() == 0) << x << "," << y;

    // Radius 2.2, a tenth of h - 2: the framework's rasteriser puts 0x66 on these arc pixels at 2.0, 0x4c at 2.4.
    for (auto corner : { Point<int> (0, 0), Point<int> (69, 0), Point<int> (0, 23), Point<int> (69, 23) })
        EXPECT_LT (image.getPixelAt (corner.x, corner.y).getAlpha(), 0x08) << corner.toString();

    for (auto onArc : { Point<int> (2, 0), Point<int> (0, 2), Point<int> (67, 0), Point<int> (69, 21) })
        EXPECT_NEAR (image.getPixelAt (onArc.x, onArc.y).getAlpha(), 0x5a, 6) << onArc.toString();

    // The opaque pressed fill goes over the stroke and hides its inner half.
    button->setState (Button::buttonDown);
    image = paint (*button);

    for (auto inner : { Point<int> (1, 12), Point<int> (35, 1), Point<int> (35, 12), Point<int> (68, 12) })
        EXPECT_EQ (image.getPixelAt (inner.x, inner.y).getARGB(), pressedBlue) << inner.toString();

    EXPECT_TRUE (isOutline (image.getPixelAt (0, 12)) && isOutline (image.getPixelAt (69, 12)));
}

TEST (TextButtonWithIcon, TextIsSixTenthsHighFittedBetweenCornerMarginsAndMakesRoomForTheArrow)
{
    auto plain = makeButton (70, 24);
    auto* lookAndFeel = dynamic_cast<TextButtonWithIcon::LookAndFeelLocal*> (&plain->getLookAndFeel());
    ASSERT_NE (lookAndFeel, nullptr);

    // Six tenths of the height, never below 12.
    for (auto [buttonHeight, fontHeight] : { std::pair (24, 14.4f), std::pair (40, 24.0f), std::pair (20, 12.0f), std::pair (8, 12.0f) })
        EXPECT_FLOAT_EQ (lookAndFeel->getTextButtonFont (*plain, buttonHeight).getHeight(), fontHeight) << buttonHeight;

    // A text far too wide fills its whole area, which then shows as what differs from the empty button.
    auto textArea = [] (TextButtonWithIcon& button, const String& text)
    {
        button.setButtonText ({});
        const auto empty = paint (button);
        button.setButtonText (text);
        return differingArea (empty, paint (button));
    };
    const String wide ("Export WAV file from pedal");
    auto area = textArea (*plain, wide);
    EXPECT_EQ (std::pair (area.getX(), area.getRight()), std::pair (2, 68));
    area = textArea (*plain, "OK");
    EXPECT_NEAR (area.getCentreX(), 35, 1);
    EXPECT_NEAR (area.getCentreY(), 12, 2);

    // Triangle (42, 8), (26, 8), (34, 16) in the text colour.
    auto withArrow = makeButton (50, 24, true);
    const auto image = paint (*withArrow);

    for (auto inside : { Point<int> (34, 8), Point<int> (28, 8), Point<int> (40, 8), Point<int> (34, 12), Point<int> (31, 10) })
        EXPECT_EQ (image.getPixelAt (inside.x, inside.y).getARGB(), black) << inside.toString();

    for (auto outside : { Point<int> (34, 7), Point<int> (25, 8), Point<int> (42, 8), Point<int> (34, 16), Point<int> (29, 13), Point<int> (39, 13) })
        EXPECT_EQ (image.getPixelAt (outside.x, outside.y).getAlpha(), 0) << outside.toString();

    area = textArea (*withArrow, wide);
    EXPECT_EQ (std::pair (area.getX(), area.getRight()), std::pair (2, 26));

    // Disabled: a light grey fill with pale text and arrow in the usual outline.
    withArrow->setEnabled (false);
    const auto disabled = paint (*withArrow);
    EXPECT_EQ (disabled.getPixelAt (45, 12).getARGB(), 0xffeeeeeeu);
    EXPECT_TRUE (sameRgb (disabled.getPixelAt (0, 12), Colour (grey)));
    EXPECT_EQ (disabled.getPixelAt (34, 10).getARGB(), 0xffddddddu);
    EXPECT_GE (countPixels (disabled, area, [] (Colour c) { return c.getARGB() == 0xffddddddu; }), 10);
}

TEST (TextButtonWithIcon, DisabledBeatsPressedOrToggledWhichBeatFocusedAndHoveringChangesNothing)
{
    struct Case { const char* expected; bool enabled, parentEnabled, focused, toggled; Button::ButtonState state; };

    const Case cases[] = {
        { "normal",   true,  true,  false, false, Button::buttonNormal },
        { "normal",   true,  true,  false, false, Button::buttonOver },
        { "focused",  true,  true,  true,  false, Button::buttonOver },
        { "down",     true,  true,  true,  false, Button::buttonDown },
        { "down",     true,  true,  true,  true,  Button::buttonNormal },
        { "disabled", false, true,  true,  true,  Button::buttonDown },
        { "disabled", true,  false, false, false, Button::buttonNormal },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "case " << (&c - cases));
        Component parent;
        auto button = makeButton (140, 60, false, "MW");
        parent.addAndMakeVisible (*button);
        parent.setEnabled (c.parentEnabled);
        button->setEnabled (c.enabled);
        button->setToggleState (c.toggled, dontSendNotification);

        if (c.focused)
            button->focusGained (Component::focusChangedDirectly);

        button->setState (c.state);
        EXPECT_EQ (drawnState (*button), c.expected);
    }
}

TEST (TextButtonWithIcon, FocusChangesRepaintAtOnceInTheirFill)
{
    struct RepaintCounter : public CachedComponentImage
    {
        void paint (Graphics&) override {}
        bool invalidateAll() override                     { return ++count > 0; }
        bool invalidate (const Rectangle<int>&) override  { return ++count > 0; }
        void releaseResources() override {}
        int count = 0;
    };

    auto button = makeButton (70, 24);
    button->setVisible (true);
    auto* repaints = new RepaintCounter();
    button->setCachedComponentImage (repaints);

    for (bool gained : { true, false })
    {
        repaints->count = 0;
        gained ? button->focusGained (Component::focusChangedByTabKey) : button->focusLost (Component::focusChangedByMouseClick);
        EXPECT_GE (repaints->count, 1) << gained;
        EXPECT_EQ (paint (*button).getPixelAt (35, 12).getARGB(), gained ? focusGreen : 0u) << gained;
    }
}

// Under AddressSanitizer this also shows that nothing touches a look-and-feel after its widget.
TEST (WidgetLifetime, DestroyingWidgetsLeavesNoLookAndFeelInUse)
{
    testing::internal::CaptureStderr();

    {
        auto button = makeButton (70, 24, true, "Replace");
        ProgressLabel label;
        label.setBounds (0, 0, 300, 20);
        paint (*button);
        paint (label);
    }

    // The framework reports a look-and-feel destroyed while a component still uses it.
    const auto log = String (testing::internal::GetCapturedStderr());
    EXPECT_FALSE (log.contains ("JUCE Assertion failure")) << log;
}
