#include "helpers/MainComponentFixture.h"

namespace
{
struct DeviceScan : public MainComponentFixture
{
    bool waitUntilConnected()
    {
        return waitFor ([this] { return access->statusLabel().getText() == "Pedal is connected"
                                            && access->allControlsEnabled(); });
    }

    /** Where the library enumerated the pedal at this address. */
    int indexOf (int address) const
    {
        const auto records = access->deviceRecords();

        for (int i = 0; i < records.size(); ++i)
            if (records[i].deviceAddress == address)
                return i;

        return -1;
    }

    static juce::String keyOf (int address)     { return juce::String::formatted ("9002 0084 01 %02X", address); }

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

    UsbDeviceDescription other = pedalAt (0x14, 0x06);
    other.vendorId = 0x1234;
    addPedal (other);

    createComponent();

    const auto records = access->deviceRecords();
    ASSERT_EQ (records.size(), 1);

    const auto& record = records.getReference (0);
    EXPECT_EQ (record.vendorId, 0x9002);
    EXPECT_EQ (record.productId, 0x0084);
    EXPECT_EQ (record.busNumber, 0x14);
    EXPECT_EQ (record.deviceAddress, 0x05);
    EXPECT_EQ (record.manufacturerName, "Padded Maker");
    EXPECT_EQ (record.productName, "");
    EXPECT_EQ (record.serialNumber, "SN-7");
    EXPECT_EQ (record.displayName, "Padded Maker -  - 1405");
    EXPECT_EQ (record.deviceKey, "9002 0084 14 05");

    EXPECT_EQ (access->deviceItems(), juce::StringArray ("Padded Maker -  - 1405"));
    EXPECT_EQ (access->selectedDeviceKey(), "9002 0084 14 05");
    EXPECT_EQ (access->usbManager()->deviceList.size(), 1);
    EXPECT_EQ (access->usbManager()->deviceList[0].deviceKey, "9002 0084 14 05");
}

TEST_F (DeviceScan, NoPedalMeansNoRecordNoItemAndNoSelection)
{
    createComponent();

    EXPECT_EQ (component->getDeviceList(), -1);
    EXPECT_TRUE (access->deviceRecords().isEmpty());
    EXPECT_EQ (access->deviceCombo().getNumItems(), 0);
    EXPECT_EQ (access->slotCombo().getNumItems(), 0);
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());
    EXPECT_EQ (component->getCurrentDeviceIndex(), -1);
    EXPECT_EQ (access->copySelectedRecord().vendorId, 0);
}

TEST_F (DeviceScan, TheSelectedOfTwoPedalsStaysSelectedAcrossRescans)
{
    addPedal (pedalAt (1, 5));
    addPedal (pedalAt (1, 6));
    createComponent();
    waitForFirstTick();

    ASSERT_EQ (access->deviceRecords().size(), 2);
    EXPECT_EQ (access->deviceCombo().getItemId (0), 1);
    EXPECT_EQ (access->deviceCombo().getItemId (1), 2);
    EXPECT_EQ (access->selectedDeviceKey(), access->deviceRecords()[0].deviceKey);

    const auto chosen = 1;
    const auto chosenKey = access->deviceRecords()[chosen].deviceKey;
    EXPECT_EQ (component->selectDevice (chosen), chosen);
    EXPECT_EQ (component->getDeviceList(), chosen);
    EXPECT_EQ (access->selectedDeviceKey(), chosenKey);
    EXPECT_EQ (access->deviceCombo().getSelectedId(), chosen + 1);
    EXPECT_EQ (component->getCurrentDeviceIndex(), chosen);
    EXPECT_EQ (access->copySelectedRecord().deviceKey, chosenKey);

    // Out of range changes nothing.
    EXPECT_EQ (component->selectDevice (-1), -1);
    EXPECT_EQ (component->selectDevice (2), -1);
    EXPECT_EQ (access->selectedDeviceKey(), chosenKey);
}

TEST_F (DeviceScan, ChoosingAPedalInTheListQueriesThatPedal)
{
    auto& atFive = addPedal (pedalAt (1, 5));
    auto& atSix = addPedal (pedalAt (1, 6));
    createComponent();
    waitForFirstTick();

    // Choose the one that is not selected yet.
    const auto choice = access->selectedDeviceKey() == keyOf (5) ? 6 : 5;
    auto& chosen = choice == 5 ? atFive : atSix;
    auto& other = choice == 5 ? atSix : atFive;
    const auto queriesOfChosen = chosen.firmware().getCommands().size();
    const auto queriesOfOther = other.firmware().getCommands().size();

    access->deviceCombo().setSelectedId (indexOf (choice) + 1, juce::sendNotificationSync);

    EXPECT_EQ (access->selectedDeviceKey(), keyOf (choice));
    EXPECT_EQ (chosen.firmware().getCommands().size(), queriesOfChosen + 2);
    EXPECT_EQ (other.firmware().getCommands().size(), queriesOfOther);
}

TEST_F (DeviceScan, UnpluggingTheSelectedPedalSelectsTheOneLeft)
{
    auto& atFive = addPedal (pedalAt (1, 5));
    auto& atSix = addPedal (pedalAt (1, 6));
    createComponent();
    waitForFirstTick();

    const auto selectedAddress = access->selectedDeviceKey() == keyOf (5) ? 5 : 6;
    const auto leftAddress = selectedAddress == 5 ? 6 : 5;

    (selectedAddress == 5 ? atFive : atSix).unplug();

    // The departure goes through the real hot-plug callback and the next tick.
    ASSERT_TRUE (waitFor ([&] { return access->selectedDeviceKey() == keyOf (leftAddress); }));
    EXPECT_TRUE (waitUntilConnected());
    EXPECT_EQ (access->deviceRecords().size(), 1);
    EXPECT_EQ (access->slotItems().size(), 99);
}

TEST_F (DeviceScan, UnpluggingAnotherPedalKeepsTheSelection)
{
    auto& atFive = addPedal (pedalAt (1, 5));
    auto& atSix = addPedal (pedalAt (1, 6));
    createComponent();
    waitForFirstTick();

    const auto selectedKey = access->selectedDeviceKey();
    auto& selected = selectedKey == keyOf (5) ? atFive : atSix;
    auto& other = selectedKey == keyOf (5) ? atSix : atFive;
    const auto queries = selected.firmware().getCommands().size();

    other.unplug();

    ASSERT_TRUE (waitFor ([this] { return access->deviceRecords().size() == 1; }));
    drainMessages();
    EXPECT_EQ (access->selectedDeviceKey(), selectedKey);
    EXPECT_EQ (access->statusLabel().getText(), "Pedal is connected");
    EXPECT_TRUE (access->allControlsEnabled());
    EXPECT_EQ (access->slotItems().size(), 99);

    // Found again, it was queried once more through the list's change notification.
    EXPECT_EQ (selected.firmware().getCommands().size(), queries + 2);
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
    EXPECT_TRUE (access->deviceRecords().isEmpty());
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());
    EXPECT_EQ (access->slotCombo().getNumItems(), 0);

    pedal.plug();
    EXPECT_TRUE (waitUntilConnected());
}

TEST_F (DeviceScan, AnUnopenablePedalKeepsItsRecordButGetsNoItem)
{
    auto refusing = pedalAt (1, 5);
    refusing.nodeRefusesOpen = true;
    addPedal (refusing);
    addPedal (pedalAt (1, 6));
    createComponent();

    const auto records = access->deviceRecords();
    ASSERT_EQ (records.size(), 2);
    const auto unopenable = indexOf (5);
    const auto openable = indexOf (6);

    EXPECT_EQ (records[unopenable].deviceKey, keyOf (5));
    EXPECT_TRUE (records[unopenable].displayName.isEmpty());
    EXPECT_TRUE (records[unopenable].manufacturerName.isEmpty());
    ASSERT_EQ (access->deviceCombo().getNumItems(), 1);
    EXPECT_EQ (access->deviceCombo().getItemId (0), openable + 1);

    // Selected by index it is still found for a transfer, but never again by a scan.
    component->selectDevice (unopenable);
    EXPECT_EQ (component->getCurrentDeviceIndex(), unopenable);
    EXPECT_EQ (component->getDeviceList(), -1);
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());

    access->deviceCombo().setSelectedId (openable + 1, juce::sendNotificationSync);
    EXPECT_EQ (access->selectedDeviceKey(), keyOf (6));
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
    EXPECT_EQ (access->selectedDeviceKey(), "9002 0084 01 05");
}

TEST_F (DeviceScan, AnArrivalWithNoPedalChangesNothing)
{
    createComponent();
    ASSERT_TRUE (waitUntilDisconnected());

    component->hotPlugEvent (juce::KuvLibUSBManager::deviceArrived);
    access->tick();

    EXPECT_TRUE (access->noControlEnabled());
    EXPECT_EQ (access->statusLabel().getText(), "Pedal is not connected");
    EXPECT_TRUE (access->selectedDeviceKey().isEmpty());
}
