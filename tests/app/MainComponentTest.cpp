#include <gtest/gtest.h>

#include "helpers/MainComponentFixture.h"

#include <BinaryData.h>

using juce::Rectangle;

namespace
{
struct MainComponentWithoutPedal : public MainComponentFixture
{
    void SetUp() override   { createComponent(); }
};
}

TEST_F (MainComponentWithoutPedal, EveryWidgetHasItsPlaceTextAndVisibility)
{
    ASSERT_EQ (component->getBounds(), Rectangle<int> (0, 0, 621, 385));

    const struct { juce::Component& widget; Rectangle<int> bounds; bool visible; } widgets[] {
        { access->backgroundImage(),   { 0, 0, 621, 385 },    true },
        { access->statusLabel(),       { 17, 85, 588, 46 },   true },
        { access->progressTextLabel(), { 0, 136, 621, 46 },   true },
        { access->deviceCombo(),       { 8, 248, 554, 24 },   false },
        { access->refreshButton(),     { 33, 15, 83, 46 },    false },
        { access->slotListLabel(),     { 8, 280, 150, 24 },   false },
        { access->slotCombo(),         { 8, 312, 554, 24 },   false },
        { access->deviceListLabel(),   { 8, 216, 150, 24 },   false },
        { access->writeButton(),       { 323, 262, 174, 31 }, false },
        { access->readButton(),        { 124, 262, 174, 31 }, false },
        { access->progressMeter(),     { 155, 188, 310, 8 },  true },
        { access->versionLabel(),      { 0, 354, 199, 31 },   true },
        { access->exportButton(),      { 124, 262, 174, 31 }, true },
        { access->importButton(),      { 323, 262, 174, 31 }, true },
    };

    // Back to front in this order: the picture lies behind everything.
    ASSERT_EQ (component->getNumChildComponents(), (int) std::size (widgets));

    for (int i = 0; i < (int) std::size (widgets); ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (component->getChildComponent (i), &widgets[i].widget);
        EXPECT_EQ (widgets[i].widget.getBounds(), widgets[i].bounds);
        EXPECT_EQ (widgets[i].widget.isVisible(), widgets[i].visible);
    }

    EXPECT_EQ (access->exportButton().getButtonText(), "Export WAV file from pedal");
    EXPECT_EQ (access->importButton().getButtonText(), "Import playback to pedal");
    EXPECT_EQ (access->versionLabel().getText(), "Version: 1.1.0");
    EXPECT_EQ (access->statusLabel().getText(), "Pedal not connected");
}

TEST_F (MainComponentWithoutPedal, LabelsUseTheEmbeddedFontAtTheirSizes)
{
    for (auto [label, height] : { std::pair<juce::Label*, float> { &access->statusLabel(), 28.0f },
                                  { &access->progressTextLabel(), 28.0f }, { &access->versionLabel(), 12.0f },
                                  { &access->slotListLabel(), 14.0f }, { &access->deviceListLabel(), 14.0f } })
    {
        EXPECT_FLOAT_EQ (label->getFont().getHeight(), height) << label->getText();
        EXPECT_EQ (label->getFont().getTypefacePtr()->getName(), "Roboto") << label->getText();
    }

    EXPECT_EQ (access->statusLabel().findColour (juce::Label::textColourId), juce::Colour (0xff081b39));
    EXPECT_EQ (access->statusLabel().getJustificationType(), juce::Justification::centred);
}

TEST_F (MainComponentWithoutPedal, BackgroundPictureCoversTheWholeWindowAtHalfSize)
{
    const auto snapshot = component->createComponentSnapshot (component->getLocalBounds(), true, 1.0f);
    const auto picture = juce::ImageCache::getFromMemory (BinaryData::temp_binary_data_2,
                                                          BinaryData::temp_binary_data_2Size);
    ASSERT_EQ (picture.getWidth(), 2 * 621);
    ASSERT_EQ (picture.getHeight(), 2 * 385);

    // Corners lie outside every widget: there the picture, not the plain grey fill, shows.
    for (auto corner : { juce::Point<int> (1, 1), juce::Point<int> (619, 1), juce::Point<int> (619, 383) })
    {
        const auto shown = snapshot.getPixelAt (corner.x, corner.y);
        const auto expected = picture.getPixelAt (corner.x * 2, corner.y * 2);

        EXPECT_NE (shown, juce::Colour (0xffdedfe0)) << corner.toString();
        EXPECT_NEAR (shown.getBrightness(), expected.getBrightness(), 0.05f) << corner.toString();
    }
}

TEST_F (MainComponentWithoutPedal, TeardownDeletesTheManagerItStillFinds)
{
    EXPECT_EQ (access->usbManager(), juce::KuvLibUSBManager::shardManager);
    ASSERT_EQ (access->usbManager()->supportedDevices.size(), 1);
    EXPECT_EQ (access->usbManager()->supportedDevices[0].vendorId, 0x9002);
    EXPECT_EQ (access->usbManager()->supportedDevices[0].productId, 0x0084);

    deleteComponent();
    EXPECT_EQ (juce::KuvLibUSBManager::shardManager, nullptr);
}

TEST_F (MainComponentWithoutPedal, TeardownAfterTheManagerWasDeletedDeletesNothingTwice)
{
    // As at shutdown: the application deletes the manager before the window.
    delete juce::KuvLibUSBManager::shardManager;
    juce::KuvLibUSBManager::shardManager = nullptr;

    deleteComponent();
}

TEST_F (MainComponentWithoutPedal, TeardownClosesAnOpenConfirmationWithResultZero)
{
    auto result = std::make_shared<int> (-1);

    juce::DialogWindow::LaunchOptions options;
    options.content.setOwned (new juce::Component());
    options.content->setSize (200, 100);
    options.dialogTitle = "Write to device";
    auto* dialog = options.launchAsync();
    ASSERT_NE (dialog, nullptr);

    juce::ModalComponentManager::getInstance()->attachCallback (dialog, juce::ModalCallbackFunction::create ([result] (int r) { *result = r; }));
    access->confirmDialog() = dialog;
    juce::Component::SafePointer<juce::DialogWindow> watch (dialog);

    deleteComponent();

    EXPECT_EQ (watch.getComponent(), nullptr);
    EXPECT_TRUE (waitFor ([result] { return *result != -1; }));
    EXPECT_EQ (*result, 0);
}
