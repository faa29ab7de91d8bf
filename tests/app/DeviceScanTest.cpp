#include "helpers/MainComponentFixture.h"

namespace
{
struct DeviceScan : public MainComponentFixture
{
    bool waitUntilShown (const juce::String& status, const juce::String& selectedKey)
    {
        return waitFor ([&] { return access->statusLabel().getText() == status && access->selectedDeviceKey() == selectedKey
                                  && (selectedKey.isEmpty() ? access->noControlEnabled() : access->allControlsEnabled()); });
    }
};
}

TEST_F (DeviceScan, OnlyOpenablePedalsAreListedWithTrimmedNamesAndAHexKey)
{
    auto padded = pedalAt (0x14, 0x05);
    padded.manufacturer = { 1, "  Padded Maker \t" };
    padded.product = { 0, {} };
    padded.serialNumber = { 3, " SN-7 " };

    // The pedal's product id from another maker, the maker's next product, and a pedal that
    // cannot be opened.
    auto otherMaker = pedalAt (0x14, 0x06), otherProduct = pedalAt (0x14, 0x07), refusing = pedalAt (0x14, 0x08);
    otherMaker.vendorId = 0x1234;
    otherProduct.productId = 0x0085;
    refusing.nodeRefusesOpen = true;

    for (const auto& description : { padded, otherMaker, otherProduct, refusing })
        addPedal (description);

    createComponent();

    // The unopenable pedal keeps its record but gets no item; an item's id is its record's index + 1.
    ASSERT_EQ (access->deviceRecords().size(), 2);
    EXPECT_EQ (access->deviceItems(), juce::StringArray ("Padded Maker -  - 1405"));
    const auto listed = access->deviceCombo().getItemId (0) - 1, unopenable = 1 - listed;
    EXPECT_EQ (access->deviceRecords()[listed].serialNumber, "SN-7");
    EXPECT_EQ (access->deviceRecords()[listed].deviceKey, "9002 0084 14 05");

    // Selected by index it is still found for a transfer, but never again by a scan; then a
    // worker finds no pedal at all.
    component->selectDevice (unopenable);
    EXPECT_EQ (component->getCurrentDeviceIndex(), unopenable);
    EXPECT_EQ (component->getDeviceList(), -1);
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());
    EXPECT_EQ (component->getCurrentDeviceIndex(), -1);
}

TEST_F (DeviceScan, PlugAndUnplugFollowTheHotPlugEventsAndTheSelectionStaysWithItsPedal)
{
    auto& first = addPedal (pedalAt (1, 5));
    createComponent();
    ASSERT_TRUE (waitUntilShown ("Pedal is connected", "9002 0084 01 05"));

    // Arrivals and departures go through the real hot-plug callback and the next tick.
    auto& second = addPedal (pedalAt (1, 6));
    ASSERT_TRUE (waitFor ([this] { return access->deviceRecords().size() == 2; }));
    drainMessages();
    EXPECT_EQ (access->selectedDeviceKey(), "9002 0084 01 05");

    first.unplug();
    EXPECT_TRUE (waitUntilShown ("Pedal is connected", "9002 0084 01 06"));

    second.unplug();
    EXPECT_TRUE (waitUntilShown ("Pedal is not connected", {}));
    EXPECT_EQ (access->copySelectedRecord().vendorId, 0);   // a worker now finds no pedal to open
}
