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

TEST_F (MainComponentWithoutPedal, EveryWidgetHasItsPlaceInTheWindow)
{
    ASSERT_EQ (component->getBounds(), Rectangle<int> (0, 0, 621, 385));

    EXPECT_EQ (access->backgroundImage().getBounds(),   Rectangle<int> (0, 0, 621, 385));
    EXPECT_EQ (access->statusLabel().getBounds(),       Rectangle<int> (17, 85, 588, 46));
    EXPECT_EQ (access->progressTextLabel().getBounds(), Rectangle<int> (0, 136, 621, 46));
    EXPECT_EQ (access->deviceCombo().getBounds(),       Rectangle<int> (8, 248, 554, 24));
    EXPECT_EQ (access->refreshButton().getBounds(),     Rectangle<int> (33, 15, 83, 46));
    EXPECT_EQ (access->slotCombo().getBounds(),         Rectangle<int> (8, 312, 554, 24));
    EXPECT_EQ (access->writeButton().getBounds(),       Rectangle<int> (323, 262, 174, 31));
    EXPECT_EQ (access->readButton().getBounds(),        Rectangle<int> (124, 262, 174, 31));
    EXPECT_EQ (access->progressMeter().getBounds(),     Rectangle<int> (155, 188, 310, 8));
    EXPECT_EQ (access->versionLabel().getBounds(),      Rectangle<int> (0, 354, 199, 31));
    EXPECT_EQ (access->exportButton().getBounds(),      Rectangle<int> (124, 262, 174, 31));
    EXPECT_EQ (access->importButton().getBounds(),      Rectangle<int> (323, 262, 174, 31));
    EXPECT_EQ (access->deviceListLabel().getBounds(),   Rectangle<int> (8, 216, 150, 24));
    EXPECT_EQ (access->slotListLabel().getBounds(),     Rectangle<int> (8, 280, 150, 24));
}

TEST_F (MainComponentWithoutPedal, OnlyTheBackgroundTextsMeterVersionAndLargeButtonsAreShown)
{
    const juce::Array<juce::Component*> shown { &access->backgroundImage(), &access->statusLabel(),
                                                &access->progressTextLabel(), &access->progressMeter(),
                                                &access->versionLabel(), &access->exportButton(),
                                                &access->importButton() };

    for (auto* child : component->getChildren())
        EXPECT_EQ (child->isVisible(), shown.contains (child)) << child->getName();

    // Back to front in declaration order: the picture lies behind everything.
    ASSERT_EQ (component->getNumChildComponents(), 14);
    EXPECT_EQ (component->getChildComponent (0), &access->backgroundImage());
    EXPECT_EQ (component->getChildComponent (13), &access->importButton());

    EXPECT_EQ (access->exportButton().getButtonText(), "Export WAV file from pedal");
    EXPECT_EQ (access->importButton().getButtonText(), "Import playback to pedal");
    EXPECT_EQ (access->versionLabel().getText(), "Version: 1.1.0");
    EXPECT_EQ (access->statusLabel().getText(), "Pedal not connected");
    EXPECT_EQ (access->refreshButton().getButtonText(), "fresh");
    EXPECT_EQ (access->writeButton().getRadioGroupId(), 1);
    EXPECT_EQ (access->readButton().getRadioGroupId(), 1);
}

TEST_F (MainComponentWithoutPedal, LabelsUseTheEmbeddedFontAtTheirSizes)
{
    EXPECT_FLOAT_EQ (access->statusLabel().getFont().getHeight(), 28.0f);
    EXPECT_FLOAT_EQ (access->progressTextLabel().getFont().getHeight(), 28.0f);
    EXPECT_FLOAT_EQ (access->versionLabel().getFont().getHeight(), 12.0f);
    EXPECT_FLOAT_EQ (access->slotListLabel().getFont().getHeight(), 14.0f);
    EXPECT_FLOAT_EQ (access->deviceListLabel().getFont().getHeight(), 14.0f);

    const auto typefaceName = access->statusLabel().getFont().getTypefacePtr()->getName();
    EXPECT_EQ (typefaceName, "Roboto");
    EXPECT_EQ (access->versionLabel().getFont().getTypefacePtr()->getName(), typefaceName);

    EXPECT_EQ (access->statusLabel().findColour (juce::Label::textColourId), juce::Colour (0xff081b39));
    EXPECT_EQ (access->statusLabel().getJustificationType(), juce::Justification::centred);
    EXPECT_EQ (access->versionLabel().getJustificationType(), juce::Justification::centredLeft);
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
    ASSERT_NE (juce::KuvLibUSBManager::shardManager, nullptr);
    EXPECT_EQ (access->usbManager(), juce::KuvLibUSBManager::shardManager);
    EXPECT_EQ (access->usbManager()->hotPlugListeners.size(), 1);
    EXPECT_EQ (access->usbManager()->supportedDevices.size(), 1);
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
    EXPECT_EQ (juce::KuvLibUSBManager::shardManager, nullptr);
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
