#include "helpers/MainComponentFixture.h"

namespace
{
struct DeviceScan : public MainComponentFixture
{
    static juce::String keyOf (const SimulatedPedal& pedal)
    {
        return juce::String::formatted ("9002 0084 01 %02X", pedal.getDescription().address);
    }

    bool waitUntilShown (const juce::String& status, const juce::String& selectedKey)
    {
        return waitFor ([&] { return access->statusLabel().getText() == status && access->selectedDeviceKey() == selectedKey
                                  && (selectedKey.isEmpty() ? access->noControlEnabled() : access->allControlsEnabled()); });
    }
};
}

TEST_F (DeviceScan, RecordsCarryTrimmedNamesAHexKeyAndBothSeparators)
{
    auto description = pedalAt (0x14, 0x05);
    description.manufacturer = { 1, "  Padded Maker \t" };
    description.product = { 0, {} };
    description.serialNumber = { 3, " SN-7 " };
    addPedal (description);

    // The pedal's product id from another maker, and the maker's next product.
    auto otherMaker = pedalAt (0x14, 0x06), otherProduct = pedalAt (0x14, 0x07);
    otherMaker.vendorId = 0x1234;
    otherProduct.productId = 0x0085;
    addPedal (otherMaker);
    addPedal (otherProduct);
    createComponent();

    const auto records = access->deviceRecords();
    ASSERT_EQ (records.size(), 1);
    EXPECT_EQ (records[0].serialNumber, "SN-7");
    EXPECT_EQ (access->deviceItems(), juce::StringArray ("Padded Maker -  - 1405"));
    EXPECT_EQ (access->selectedDeviceKey(), "9002 0084 14 05");
}

TEST_F (DeviceScan, PlugAndUnplugFollowTheHotPlugEventsAndTheSelectionStaysWithItsPedal)
{
    auto& first = addPedal (pedalAt (1, 5));
    createComponent();
    ASSERT_TRUE (waitUntilShown ("Pedal is connected", keyOf (first)));

    // Departures go through the real hot-plug callback and the next tick.
    auto& second = addPedal (pedalAt (1, 6));
    ASSERT_TRUE (waitFor ([this] { return access->deviceRecords().size() == 2; }));
    drainMessages();
    EXPECT_EQ (access->selectedDeviceKey(), keyOf (first));

    first.unplug();
    EXPECT_TRUE (waitUntilShown ("Pedal is connected", keyOf (second)));
    EXPECT_EQ (access->slotItems().size(), 99);

    second.unplug();
    EXPECT_TRUE (waitUntilShown ("Pedal is not connected", {}));
    EXPECT_EQ (access->slotCombo().getNumItems(), 0);
    EXPECT_EQ (access->copySelectedRecord().vendorId, 0);   // a worker now finds no pedal to open
}

TEST_F (DeviceScan, AnUnopenablePedalKeepsItsRecordButGetsNoItem)
{
    auto refusing = pedalAt (1, 5);
    refusing.nodeRefusesOpen = true;
    addPedal (refusing);
    const auto& openablePedal = addPedal (pedalAt (1, 6));
    createComponent();

    // The one item is the openable pedal's, its id one more than its record's index.
    ASSERT_EQ (access->deviceRecords().size(), 2);
    ASSERT_EQ (access->deviceCombo().getNumItems(), 1);
    const auto openable = access->deviceCombo().getItemId (0) - 1, unopenable = 1 - openable;
    EXPECT_EQ (access->deviceRecords()[openable].deviceKey, keyOf (openablePedal));

    // Selected by index it is still found for a transfer, but never again by a scan.
    component->selectDevice (unopenable);
    EXPECT_EQ (component->getCurrentDeviceIndex(), unopenable);
    EXPECT_EQ (component->getDeviceList(), -1);
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());
}
