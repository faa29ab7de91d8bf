#include <gtest/gtest.h>

#include "helpers/MainComponentFixture.h"

#include <BinaryData.h>

namespace
{
struct MainComponentWithoutPedal : public MainComponentFixture
{
    void SetUp() override   { createComponent(); }
};
}

TEST_F (MainComponentWithoutPedal, ShowsOnlyThePictureAtHalfSizeTheTextsTheBarAndTheTwoButtons)
{
    EXPECT_EQ (component->getBounds(), juce::Rectangle<int> (0, 0, 621, 385));

    juce::Array<juce::Component*> shown;

    for (auto* child : component->getChildren())
        if (child->isVisible())
            shown.add (child);

    // Back to front: the picture lies behind everything; the lists and the plain buttons stay hidden.
    EXPECT_EQ (shown, (juce::Array<juce::Component*> { &access->backgroundImage(), &access->statusLabel(),
                                                        &access->progressTextLabel(), &access->progressMeter(),
                                                        &access->versionLabel(), &access->exportButton(),
                                                        &access->importButton() }));

    EXPECT_EQ (access->statusLabel().getText(), "Pedal not connected");
    EXPECT_EQ (access->versionLabel().getText(), "Version: 1.1.0");
    EXPECT_EQ (access->exportButton().getButtonText(), "Export WAV file from pedal");
    EXPECT_EQ (access->importButton().getButtonText(), "Import playback to pedal");

    for (auto* label : { &access->statusLabel(), &access->progressTextLabel(), &access->versionLabel() })
        EXPECT_EQ (label->getFont().getTypefacePtr()->getName(), "Roboto");

    const auto snapshot = component->createComponentSnapshot (component->getLocalBounds(), true, 1.0f);
    const auto picture = juce::ImageCache::getFromMemory (BinaryData::temp_binary_data_2,
                                                          BinaryData::temp_binary_data_2Size);

    // Corners lie outside every widget: there the picture, not the plain grey fill, shows.
    for (auto corner : { juce::Point<int> (1, 1), juce::Point<int> (619, 1), juce::Point<int> (619, 383) })
    {
        const auto shown = snapshot.getPixelAt (corner.x, corner.y);

        EXPECT_NE (shown, juce::Colour (0xffdedfe0)) << corner.toString();
        EXPECT_NEAR (shown.getBrightness(), picture.getPixelAt (corner.x * 2, corner.y * 2).getBrightness(), 0.05f)
            << corner.toString();
    }
}
