#include "helpers/MainComponentFixture.h"

using DeviceScan = MainComponentFixture;

TEST_F (DeviceScan, OnlyOpenablePedalsWithBothIdsAreListedAndUnpluggingTheOneLeavesNoneSelected)
{
    auto padded = pedalAt (0x14, 0x05);
    padded.manufacturer = { 1, "  Padded Maker \t" };
    padded.product = { 0, {} };

    // The maker's next product, and a pedal that cannot be opened: at address 4 libusb lists it
    // after the padded one at the start, so the first tick selects that one.
    auto otherProduct = pedalAt (0x14, 0x07), refusing = pedalAt (0x14, 0x04);
    otherProduct.productId = 0x0085;
    refusing.nodeRefusesOpen = true;
    addPedal (otherProduct);
    addPedal (refusing);
    auto& pedal = addPedal (padded);

    createComponent();
    ASSERT_EQ (access->deviceCombo().getNumItems(), 1);
    EXPECT_EQ (access->deviceCombo().getItemText (0), "Padded Maker -  - 1405");

    // An item's id is its record's index + 1.
    EXPECT_EQ (access->deviceRecords()[access->deviceCombo().getItemId (0) - 1].deviceKey, "9002 0084 14 05");
    ASSERT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is connected" && access->allControlsEnabled(); }));

    // The departure goes through the real hot-plug callback and the next tick. The tick then
    // selects the record left, which has no item; a scan never keeps that, so a worker finds no pedal.
    pedal.unplug();
    EXPECT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is not connected" && access->noControlEnabled(); }));
    EXPECT_EQ (component->getDeviceList(), -1);
    EXPECT_EQ (component->getCurrentDeviceIndex(), -1);
}
