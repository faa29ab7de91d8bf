#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

namespace
{
    constexpr uint32 outlineGrey = 0xffcccccc;
    constexpr uint32 black = 0xff000000;
    constexpr uint32 clear = 0x00000000;
    constexpr uint32 pressedBlue = 0xff26c5ff;

    // The button every screen of the program uses, with the focused fill as the only variable.
    std::unique_ptr<TextButtonWithIcon> makeStandardButton (const String& text, int width, int height,
                                                            bool hasArrow = false, uint32 focusedFill = clear)
    {
        auto button = std::make_unique<TextButtonWithIcon> (text, nullptr, 0.1f, hasArrow, outlineGrey, black,
                                                             clear, focusedFill, pressedBlue, 0xffffffff);
        button->setSize (width, height);
        return button;
    }

    bool isOutlinePixel (Colour c)   { return sameRgb (c, Colour (outlineGrey)) && c.getAlpha() > 0x60 && c.getAlpha() < 0xa0; }
    bool isClearPixel (Colour c)     { return c.getAlpha() == 0; }
    bool isDarkTextPixel (Colour c)  { return c.getAlpha() > 0x40 && c.getBrightness() < 0.3f; }

    //==============================================================================
    // Opaque, clearly distinct colours per state, so the painted pixels tell which state was drawn.
    struct Palette
    {
        const char* name;
        uint32 fill, border, text;
    };

    const Palette palettes[] = {
        { "normal",   0xff1e3a5f, 0xff00ff00, 0xffffd700 },
        { "down",     0xff8b0000, 0xffff00ff, 0xff00ffff },
        { "focused",  0xff006400, 0xff0000ff, 0xffff69b4 },
        { "disabled", 0xff696969, 0xffff8c00, 0xffffffff },
    };

    void applyPalettes (TextButtonWithIcon& button)
    {
        const int fillIds[]   = { TextButtonWithIcon::backgroundNormalColourId, TextButtonWithIcon::backgroundDownColourId,
                                  TextButtonWithIcon::backgroundFocusedColourId, TextButtonWithIcon::backgroundDisabledColourId };
        const int borderIds[] = { TextButtonWithIcon::borderNormalColourId, TextButtonWithIcon::borderDownColourId,
                                  TextButtonWithIcon::borderFocusedColourId, TextButtonWithIcon::borderDisabledColourId };
        const int textIds[]   = { TextButtonWithIcon::textNormalColourId, TextButtonWithIcon::textDownColourId,
                                  TextButtonWithIcon::textFocusedColourId, TextButtonWithIcon::textDisabledColourId };

        for (int i = 0; i < 4; ++i)
        {
            button.setColour (fillIds[i], Colour (palettes[i].fill));
            button.setColour (borderIds[i], Colour (palettes[i].border));
            button.setColour (textIds[i], Colour (palettes[i].text));
        }
    }

    std::unique_ptr<TextButtonWithIcon> makePaletteButton()
    {
        auto button = makeStandardButton ("MW", 140, 60);
        applyPalettes (*button);
        return button;
    }

    /** Names the state whose fill, outline and text colours all appear in the painted button. */
    std::string drawnState (TextButtonWithIcon& button)
    {
        const auto image = paint (button);
        const auto h = button.getHeight();
        const auto fill = image.getPixelAt (4, h / 2);
        const auto outerOutline = image.getPixelAt (0, h / 2);

        for (auto& p : palettes)
        {
            if (! sameArgb (fill, Colour (p.fill)) || ! sameRgb (outerOutline, Colour (p.border)))
                continue;

            const auto textPixels = countPixels (image, image.getBounds().reduced (8),
                                                 [&] (Colour c) { return sameArgb (c, Colour (p.text), 8); });
            return textPixels >= 10 ? p.name : std::string (p.name) + " without its text colour";
        }

        return ("unknown: fill " + describe (fill) + ", outline " + describe (outerOutline)).toStdString();
    }

    //==============================================================================
    struct RepaintCounter : public CachedComponentImage
    {
        explicit RepaintCounter (int& counterToUse) : counter (counterToUse) {}

        void paint (Graphics&) override {}
        bool invalidateAll() override                        { ++counter; return true; }
        bool invalidate (const Rectangle<int>&) override     { ++counter; return true; }
        void releaseResources() override {}

        int& counter;
    };

    struct ClickCounter : public Button::Listener
    {
        void buttonClicked (Button*) override { ++clicks; }
        int clicks = 0;
    };
}

//==============================================================================
TEST (TextButtonWithIcon, ConstructorSpreadsTheArgumentColoursOverTheTwelveIds)
{
    TextButtonWithIcon button ("Go", nullptr, 0.1f, false, 0xff000001, 0xff000002, 0xff000003,
                               0xff000004, 0xff000005, 0xffffffff);

    const std::pair<int, uint32> expected[] = {
        { 0x2000001, 0xff000003 }, { 0x2000002, 0xff000005 }, { 0x2000003, 0xff000004 }, { 0x2000004, 0xffeeeeee },
        { 0x2000005, 0xff000002 }, { 0x2000006, 0xff000002 }, { 0x2000007, 0xff000002 }, { 0x2000008, 0xffdddddd },
        { 0x2000009, 0xff000001 }, { 0x200000a, 0xff000001 }, { 0x200000b, 0xff000001 }, { 0x200000c, 0xff000001 },
    };

    for (auto& [id, argb] : expected)
        EXPECT_EQ (button.findColour (id).getARGB(), argb) << "colour id " << String::toHexString (id);

    EXPECT_EQ (button.getButtonText(), "Go");
    EXPECT_FALSE (button.hasFocus);
}

TEST (TextButtonWithIcon, ClickReachesTheListenerGivenToTheConstructor)
{
    ClickCounter listener;
    TextButtonWithIcon button ("Go", &listener, 0.1f, false, outlineGrey, black, clear, clear, pressedBlue, 0xffffffff);

    button.triggerClick();

    const auto deadline = Time::getMillisecondCounter() + 5000;
    while (listener.clicks == 0 && Time::getMillisecondCounter() < deadline)
        MessageManager::getInstance()->runDispatchLoopUntil (5);

    EXPECT_EQ (listener.clicks, 1);
}

//==============================================================================
TEST (TextButtonWithIconGeometry, SeventyByTwentyFourIsAOnePixelRoundedOutlineOnAClearFill)
{
    auto button = makeStandardButton ({}, 70, 24);
    const auto image = paint (*button);

    // The outline runs along x = 1, x = 69, y = 1 and y = 23: half of it falls on each pixel beside.
    for (int y : { 4, 12, 19 })
    {
        for (int x : { 0, 1, 68, 69 })
            EXPECT_TRUE (isOutlinePixel (image.getPixelAt (x, y))) << x << "," << y << ": " << describe (image.getPixelAt (x, y));

        for (int x : { 2, 35, 67 })
            EXPECT_TRUE (isClearPixel (image.getPixelAt (x, y))) << x << "," << y;
    }

    for (int x : { 4, 35, 65 })
        for (int y : { 0, 1, 22, 23 })
            EXPECT_TRUE (isOutlinePixel (image.getPixelAt (x, y))) << x << "," << y << ": " << describe (image.getPixelAt (x, y));

    // A corner radius of about two pixels: the very corners stay empty, and the edges are straight
    // three pixels in.
    for (auto corner : { Point<int> (0, 0), Point<int> (69, 0), Point<int> (0, 23), Point<int> (69, 23) })
        EXPECT_LT (image.getPixelAt (corner.x, corner.y).getAlpha(), 0x08) << corner.toString();

    EXPECT_LT (image.getPixelAt (0, 1).getAlpha(), 0x30);
    EXPECT_TRUE (isOutlinePixel (image.getPixelAt (0, 3)));
    EXPECT_TRUE (isOutlinePixel (image.getPixelAt (3, 0)));

    // Radius 2.2 exactly: with the framework's rasteriser, radius 2.0 puts 0x66 of the stroke on
    // these pixels and radius 2.4 (a tenth of the full height) 0x4c.
    for (auto onArc : { Point<int> (2, 0), Point<int> (0, 2), Point<int> (67, 0), Point<int> (69, 21) })
    {
        EXPECT_GT (image.getPixelAt (onArc.x, onArc.y).getAlpha(), 0x53) << onArc.toString();
        EXPECT_LT (image.getPixelAt (onArc.x, onArc.y).getAlpha(), 0x62) << onArc.toString();
    }
}

TEST (TextButtonWithIconGeometry, FontIsSixTenthsOfTheHeightButNeverBelowTwelve)
{
    auto button = makeStandardButton ("Replace", 70, 24);
    auto* lookAndFeel = dynamic_cast<TextButtonWithIcon::LookAndFeelLocal*> (&button->getLookAndFeel());
    ASSERT_NE (lookAndFeel, nullptr);

    EXPECT_FLOAT_EQ (lookAndFeel->getTextButtonFont (*button, 24).getHeight(), 14.4f);
    EXPECT_FLOAT_EQ (lookAndFeel->getTextButtonFont (*button, 40).getHeight(), 24.0f);
    EXPECT_FLOAT_EQ (lookAndFeel->getTextButtonFont (*button, 20).getHeight(), 12.0f);
    EXPECT_FLOAT_EQ (lookAndFeel->getTextButtonFont (*button, 8).getHeight(), 12.0f);
}

TEST (TextButtonWithIconGeometry, TextStaysInsideACornerSizedMargin)
{
    auto button = makeStandardButton ({}, 70, 24);
    const auto empty = paint (*button);

    // A text far too wide is fitted to the whole width of its area.
    button->setButtonText ("Export WAV file from pedal");
    const auto withText = paint (*button);
    const auto textArea = differingArea (empty, withText);

    EXPECT_EQ (textArea.getX(), 2);
    EXPECT_EQ (textArea.getRight(), 68);
    EXPECT_GT (countPixels (withText, textArea, isDarkTextPixel), 40);

    // A short one is centred both ways.
    button->setButtonText ("OK");
    const auto shortText = differingArea (empty, paint (*button));
    EXPECT_NEAR (shortText.getCentreX(), 35, 1);
    EXPECT_NEAR (shortText.getCentreY(), 12, 2);
}

TEST (TextButtonWithIconGeometry, ArrowIsADownwardTriangleAndTheTextMakesRoomForIt)
{
    auto button = makeStandardButton ({}, 50, 24, true);
    const auto image = paint (*button);

    // Triangle (42, 8), (26, 8), (34, 16) in the text colour.
    for (auto inside : { Point<int> (34, 8), Point<int> (28, 8), Point<int> (40, 8), Point<int> (34, 12), Point<int> (31, 10) })
        EXPECT_TRUE (isDarkTextPixel (image.getPixelAt (inside.x, inside.y)) && image.getPixelAt (inside.x, inside.y).getAlpha() == 0xff)
            << inside.toString() << ": " << describe (image.getPixelAt (inside.x, inside.y));

    for (auto outside : { Point<int> (34, 7), Point<int> (25, 8), Point<int> (42, 8), Point<int> (34, 16),
                          Point<int> (29, 13), Point<int> (39, 13) })
        EXPECT_TRUE (isClearPixel (image.getPixelAt (outside.x, outside.y))) << outside.toString();

    button->setButtonText ("Export WAV file from pedal");
    const auto textArea = differingArea (image, paint (*button));

    EXPECT_EQ (textArea.getX(), 2);
    EXPECT_EQ (textArea.getRight(), 26);
}

//==============================================================================
TEST (TextButtonWithIconStates, StandardButtonFillsBlueOverItsOutlineWhilePressed)
{
    auto button = makeStandardButton ({}, 70, 24);
    button->setState (Button::buttonDown);
    const auto image = paint (*button);

    // The fill comes after the stroke: it covers the inner half of the outline.
    EXPECT_EQ (image.getPixelAt (1, 12).getARGB(), pressedBlue);
    EXPECT_EQ (image.getPixelAt (35, 1).getARGB(), pressedBlue);
    EXPECT_EQ (image.getPixelAt (35, 12).getARGB(), pressedBlue);
    EXPECT_TRUE (isOutlinePixel (image.getPixelAt (0, 12)));
    EXPECT_TRUE (isOutlinePixel (image.getPixelAt (69, 12)));
}

TEST (TextButtonWithIconStates, StandardButtonDisabledIsLightGreyWithPaleText)
{
    auto button = makeStandardButton ("MW", 140, 60, true);
    button->setEnabled (false);
    const auto image = paint (*button);

    EXPECT_EQ (image.getPixelAt (4, 30).getARGB(), 0xffeeeeeeu);
    EXPECT_TRUE (sameRgb (image.getPixelAt (0, 30), Colour (outlineGrey)));
    EXPECT_GE (countPixels (image, image.getBounds(), [] (Colour c) { return c.getARGB() == 0xffddddddu; }), 10);

    // The arrow takes the text colour of the state.
    EXPECT_EQ (image.getPixelAt (140 - 2 * 20, 22).getARGB(), 0xffddddddu);
}

TEST (TextButtonWithIconStates, DisabledWinsOverPressedToggledAndFocused)
{
    auto button = makePaletteButton();
    button->setToggleState (true, dontSendNotification);
    button->focusGained (Component::focusChangedDirectly);
    button->setEnabled (false);
    button->setState (Button::buttonDown);

    EXPECT_EQ (drawnState (*button), "disabled");
}

TEST (TextButtonWithIconStates, EnabledButtonInsideADisabledParentDrawsDisabled)
{
    Component parent;
    auto button = makePaletteButton();
    parent.addAndMakeVisible (*button);

    parent.setEnabled (false);
    EXPECT_EQ (drawnState (*button), "disabled");

    parent.setEnabled (true);
    EXPECT_EQ (drawnState (*button), "normal");
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
    const auto normal = paint (*button);

    button->setState (Button::buttonOver);
    EXPECT_TRUE (differingArea (normal, paint (*button)).isEmpty());

    button->focusGained (Component::focusChangedDirectly);
    const auto focused = paint (*button);
    button->setState (Button::buttonNormal);
    EXPECT_TRUE (differingArea (focused, paint (*button)).isEmpty());
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

TEST (TextButtonWithIconStates, DropDialogButtonShowsItsBlueFillWhileFocused)
{
    auto button = makeStandardButton ("Cancel", 70, 24, false, pressedBlue);
    EXPECT_TRUE (isClearPixel (paint (*button).getPixelAt (4, 12)));

    button->focusGained (Component::focusChangedDirectly);
    EXPECT_EQ (paint (*button).getPixelAt (4, 12).getARGB(), pressedBlue);
}
