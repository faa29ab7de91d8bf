#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;
using namespace widgetpixels;

// The main window's timer writes the progress as "%f" text.
TEST (ProgressLabel, BarOverAPillTrackIsAsWideAsThePercentage)
{
    const Colour track (0xff333333), bar (0xff3af3fa);

    for (auto [text, barWidth] : { std::pair ("0.000000", 0), std::pair ("50.000000", 150), std::pair ("100.000000", 300) })
    {
        ProgressLabel label;
        label.setSize (300, 20);
        label.setText (text, dontSendNotification);
        const auto image = paint (label);

        const Rectangle<int> middleRow (0, 10, 300, 1);
        EXPECT_EQ (countPixels (image, middleRow, [&] (Colour c) { return sameArgb (c, bar, 0x30); }), barWidth) << text;
        EXPECT_EQ (countPixels (image, middleRow, [&] (Colour c) { return sameArgb (c, track, 0x30); }), 300 - barWidth) << text;

        // Round ends: the label's own background would have filled the corners.
        for (auto corner : { Point<int> (0, 0), Point<int> (299, 19) })
            EXPECT_EQ (image.getPixelAt (corner.x, corner.y).getAlpha(), 0) << text;
    }
}
