#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

namespace
{
    const Colour track (0xff333333), bar (0xff3af3fa), redBar (0xffff0000);

    Image paintProgress (const String& text, int width, int height)
    {
        ProgressLabel label;
        label.setSize (width, height);
        label.setText (text, dontSendNotification);
        return paint (label);
    }

    /** How many pixels of the middle row carry the given bar colour rather than the track's. */
    int barWidth (const Image& image, Colour barColour)
    {
        return countPixels (image, { 0, image.getHeight() / 2, image.getWidth(), 1 },
                            [&] (Colour c) { return sameArgb (c, barColour, 0x30); });
    }
}

TEST (ProgressLabel, HalfwayIsAPillTrackWithARoundEndedBarOverItsLeftHalf)
{
    const auto image = paintProgress ("50.000000", 300, 20);

    EXPECT_EQ (barWidth (image, bar), 150);
    EXPECT_EQ (image.getPixelAt (75, 0), bar);
    EXPECT_EQ (image.getPixelAt (75, 19), bar);
    EXPECT_EQ (image.getPixelAt (150, 10), track);
    EXPECT_EQ (image.getPixelAt (145, 0), track);  // the bar's end is round
    EXPECT_TRUE (sameArgb (image.getPixelAt (149, 10), bar, 0x10));

    // Radius 10; the label's own background would have filled the corners.
    for (auto corner : { Point<int> (0, 0), Point<int> (299, 0), Point<int> (0, 19), Point<int> (299, 19) })
        EXPECT_EQ (image.getPixelAt (corner.x, corner.y).getAlpha(), 0) << corner.toString();

    EXPECT_EQ (image.getPixelAt (10, 0), bar);
    EXPECT_LT (image.getPixelAt (2, 0).getAlpha(), 0x10);
}

TEST (ProgressLabel, BarWidthAndColourFollowTheText)
{
    struct Case { const char* text; int width; Colour colour; int expectedBar; };

    const Case cases[] = {
        { "50.000000", 300, bar,    150 },
        { "33.3",      100, bar,    33 },   // truncated, not rounded
        { "66.9",      100, bar,    66 },
        { "150",       300, bar,    300 },  // capped at a full bar
        { "-2",        300, redBar, 300 },  // a negative value draws a full bar in the highlight colour
        { "0.000000",  300, redBar, 0 },
        { "",          300, redBar, 0 },
        { "pending",   300, redBar, 0 },
        { "nan",       300, redBar, 0 },
    };

    for (auto& c : cases)
    {
        const auto image = paintProgress (c.text, c.width, 20);
        EXPECT_EQ (barWidth (image, c.colour), c.expectedBar) << "text \"" << c.text << "\"";
        EXPECT_EQ (barWidth (image, c.colour == bar ? redBar : bar), 0) << "text \"" << c.text << "\"";
    }
}

TEST (ProgressLabel, TextIsNeverDrawn)
{
    const auto image = paintProgress ("0.000000", 300, 20);

    // Between the round ends every pixel is the track: no glyph shows.
    EXPECT_EQ (countPixels (image, { 10, 0, 280, 20 }, [] (Colour c) { return c != track; }), 0);
}

TEST (ProgressLabel, OddHeightRoundsTheRadiusDown)
{
    const auto image = paintProgress ("0", 300, 21);

    // Radius 10, not 10.5: the end keeps a straight piece one pixel high on the middle row.
    EXPECT_EQ (image.getPixelAt (0, 10), track);

    for (int y : { 9, 11 })
        EXPECT_TRUE (image.getPixelAt (0, y).getAlpha() >= 0xe8 && image.getPixelAt (0, y).getAlpha() <= 0xf6) << y;

    EXPECT_EQ (image.getPixelAt (150, 20), track);
    EXPECT_EQ (image.getPixelAt (0, 20).getAlpha(), 0);
}

TEST (ProgressLabel, NewTextAndSizeRedrawTheBar)
{
    ProgressLabel label;
    label.setSize (200, 20);

    label.setText ("25", dontSendNotification);
    EXPECT_EQ (barWidth (paint (label), bar), 50);

    label.setText ("75", dontSendNotification);
    label.setSize (100, 20);
    EXPECT_EQ (barWidth (paint (label), bar), 75);
    EXPECT_EQ (label.getNumChildComponents(), 0);
}
