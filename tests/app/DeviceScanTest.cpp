#include "helpers/MainComponentFixture.h"

namespace
{
struct DeviceScan : public MainComponentFixture
{
    static juce::String keyOf (const SimulatedPedal& pedal)
    {
        return juce::String::formatted ("9002 0084 01 %02X", pedal.getDescription().address);
    }

    /** Two pedals at start; the first is the one selected then, whichever the library lists first. */
    std::pair<SimulatedPedal*, SimulatedPedal*> startWithTwoPedals()
    {
        auto* a = &addPedal (pedalAt (1, 5));
        auto* b = &addPedal (pedalAt (1, 6));
        createComponent();
        waitForFirstTick();
        return access->selectedDeviceKey() == keyOf (*a) ? std::make_pair (a, b) : std::make_pair (b, a);
    }

    int indexOf (const SimulatedPedal& pedal) const
    {
        const auto records = access->deviceRecords();

        for (int i = 0; i < records.size(); ++i)
            if (records[i].deviceKey == keyOf (pedal))
                return i;

        return -1;
    }

    bool waitUntilConnected()
    {
        return waitFor ([this] { return access->statusLabel().getText() == "Pedal is connected"
                                            && access->allControlsEnabled(); });
    }

    bool waitUntilDisconnected()
    {
        return waitFor ([this] { return access->statusLabel().getText() == "Pedal is not connected"
                                            && access->noControlEnabled(); });
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
    EXPECT_EQ (records[0].displayName, "Padded Maker -  - 1405");
    EXPECT_EQ (records[0].deviceKey, "9002 0084 14 05");
    EXPECT_EQ (access->deviceItems(), juce::StringArray ("Padded Maker -  - 1405"));
    EXPECT_EQ (access->selectedDeviceKey(), "9002 0084 14 05");
    EXPECT_EQ (access->usbManager()->deviceList.size(), 1);
}

TEST_F (DeviceScan, TheSelectedOfTwoPedalsStaysSelectedAcrossRescansAndUnplugs)
{
    const auto [first, second] = startWithTwoPedals();
    ASSERT_EQ (indexOf (*first), 0);
    EXPECT_EQ (access->deviceCombo().getItemId (1), 2);

    EXPECT_EQ (component->selectDevice (1), 1);
    EXPECT_EQ (component->getDeviceList(), 1);
    EXPECT_EQ (access->deviceCombo().getSelectedId(), 2);
    EXPECT_EQ (component->getCurrentDeviceIndex(), 1);
    EXPECT_EQ (access->copySelectedRecord().deviceKey, keyOf (*second));

    EXPECT_EQ (component->selectDevice (-1), -1);
    EXPECT_EQ (component->selectDevice (2), -1);
    EXPECT_EQ (access->selectedDeviceKey(), keyOf (*second));

    first->unplug();
    ASSERT_TRUE (waitFor ([this] { return access->deviceRecords().size() == 1; }));
    drainMessages();
    EXPECT_EQ (access->selectedDeviceKey(), keyOf (*second));
    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());
    EXPECT_EQ (access->slotItems().size(), 99);
}

TEST_F (DeviceScan, UnpluggingTheSelectedPedalSelectsTheOneLeft)
{
    const auto [selected, other] = startWithTwoPedals();

    selected->unplug();

    // The departure goes through the real hot-plug callback and the next tick.
    ASSERT_TRUE (waitFor ([&, o = other] { return access->selectedDeviceKey() == keyOf (*o); }));
    EXPECT_TRUE (waitUntilConnected());
    EXPECT_EQ (access->slotItems().size(), 99);
}

TEST_F (DeviceScan, PlugAndUnplugFollowTheHotPlugEvents)
{
    createComponent();
    ASSERT_TRUE (waitUntilDisconnected());

    auto& pedal = addPedal();
    ASSERT_TRUE (waitUntilConnected());
    EXPECT_EQ (access->slotItems().size(), 99);
    EXPECT_EQ (access->selectedDeviceKey(), "9002 0084 01 05");

    pedal.unplug();
    ASSERT_TRUE (waitUntilDisconnected());
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());
    EXPECT_EQ (access->slotCombo().getNumItems(), 0);
    EXPECT_EQ (access->copySelectedRecord().vendorId, 0);   // a worker now finds no pedal to open

    pedal.plug();
    EXPECT_TRUE (waitUntilConnected());
}

TEST_F (DeviceScan, AnUnopenablePedalKeepsItsRecordButGetsNoItem)
{
    auto refusing = pedalAt (1, 5);
    refusing.nodeRefusesOpen = true;
    const auto& unopenablePedal = addPedal (refusing);
    const auto& openablePedal = addPedal (pedalAt (1, 6));
    createComponent();

    ASSERT_EQ (access->deviceRecords().size(), 2);
    const auto unopenable = indexOf (unopenablePedal);
    const auto openable = indexOf (openablePedal);
    EXPECT_TRUE (access->deviceRecords()[unopenable].displayName.isEmpty());
    ASSERT_EQ (access->deviceCombo().getNumItems(), 1);
    EXPECT_EQ (access->deviceCombo().getItemId (0), openable + 1);

    // Selected by index it is still found for a transfer, but never again by a scan.
    component->selectDevice (unopenable);
    EXPECT_EQ (component->getCurrentDeviceIndex(), unopenable);
    EXPECT_EQ (component->getDeviceList(), -1);
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());

    access->deviceCombo().setSelectedId (openable + 1, juce::sendNotificationSync);
    EXPECT_EQ (access->selectedDeviceKey(), keyOf (openablePedal));
    EXPECT_EQ (access->statusText(), "Pedal is connected");
}

TEST_F (DeviceScan, ManyHotPlugEventsAreTakenAndRescannedInOneTick)
{
    auto& pedal = addPedal();
    createComponent();
    waitForFirstTick();
    ASSERT_EQ (access->slotItems().size(), 99);

    // From now on the pedal's queries fail, so an emptied slot list shows that a scan ran.
    pedal.firmware().setDeviceInfo ({});

    for (int i = 0; i < 3; ++i)
    {
        component->hotPlugEvent (juce::KuvLibUSBManager::deviceArrived);
        component->hotPlugEvent (juce::KuvLibUSBManager::deviceLeft);
    }

    access->tick();
    EXPECT_EQ (access->uiRequestFlags().getRawBits(), 0);
    EXPECT_EQ (access->slotCombo().getNumItems(), 0);

    // The pedal is still there: neither rescan counts as its departure.
    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());
}
