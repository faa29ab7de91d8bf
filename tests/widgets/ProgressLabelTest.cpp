#include <gtest/gtest.h>

#include <juce_myModule/juce_myModule.h>

TEST (ProgressLabel, BarOverAPillTrackIsAsWideAsThePercentage)
{
    constexpr juce::uint32 track = 0xff333333, bar = 0xff3af3fa;

    // The main window's timer writes the progress as "%f" text; the label is 300 wide. The
    // label's own background would fill the round ends' corners.
    const struct { const char* text; int x, y; juce::uint32 argb; } probes[] {
        { "0.000000", 5, 10, track }, { "50.000000", 148, 10, bar }, { "50.000000", 150, 10, track },
        { "100.000000", 298, 10, bar }, { "100.000000", 0, 0, 0 }, { "100.000000", 299, 19, 0 },
    };

    for (auto& p : probes)
    {
        juce::ProgressLabel label;
        label.setSize (300, 20);
        label.setText (p.text, juce::dontSendNotification);
        const auto image = label.createComponentSnapshot (label.getLocalBounds(), true, 1.0f);
        EXPECT_EQ (image.getPixelAt (p.x, p.y).getARGB(), p.argb) << p.text << " at " << p.x << ", " << p.y;
    }
}
