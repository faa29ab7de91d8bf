#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

namespace
{
    const Colour track (0xff333333), bar (0xff3af3fa), redBar (0xffff0000);

    // On a label 300 pixels wide.
    Image paintProgress (const String& text, int height = 20)
    {
        ProgressLabel label;
        label.setSize (300, height);
        label.setText (text, dontSendNotification);
        return paint (label);
    }
}

TEST (ProgressLabel, BarWidthAndColourFollowTheText)
{
    // "-2" draws a full bar in the highlight colour; 33.3 % is truncated.
    struct Case { const char* text; Colour colour; int barWidth; };

    const Case cases[] = {
        { "50.000000", bar, 150 }, { "33.3", bar, 99 }, { "150", bar, 300 }, { "-2", redBar, 300 },
        { "0", redBar, 0 }, { "", redBar, 0 }, { "pending", redBar, 0 }, { "nan", redBar, 0 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        const auto image = paintProgress (c.text);

        for (auto colour : { bar, redBar })
            EXPECT_EQ (countPixels (image, { 0, 10, 300, 1 }, [&] (Colour p) { return sameArgb (p, colour, 0x30); }),
                       colour == c.colour ? c.barWidth : 0) << colour.toDisplayString (true);
    }
}

TEST (ProgressLabel, IsAPillTrackUnderARoundEndedBarWithNoText)
{
    const auto half = paintProgress ("50");

    // Radius 10: the label's own background would have filled the corners.
    for (auto p : { Point<int> (0, 0), Point<int> (299, 0), Point<int> (0, 19), Point<int> (299, 19) })
        EXPECT_EQ (half.getPixelAt (p.x, p.y).getAlpha(), 0) << p.toString();

    EXPECT_EQ (half.getPixelAt (10, 0), bar);
    EXPECT_EQ (half.getPixelAt (145, 0), track);

    // Radius 10, not 10.5, leaves a straight end one pixel high on the middle row.
    const auto odd = paintProgress ("0.000000", 21);
    EXPECT_EQ (odd.getPixelAt (0, 10), track);
    EXPECT_EQ (countPixels (odd, { 12, 0, 276, 21 }, [] (Colour c) { return c != track; }), 0);
}
