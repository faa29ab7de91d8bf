#include "helpers/UsbFixture.h"

#include <atomic>

using juce::KuvLibUSBManager;
using UsbManagerTest = UsbFixture;

namespace
{
/** Counts the hot-plug events it is told of, from the "libusb" thread. */
struct CountingListener : public KuvLibUSBManager::Listener
{
    void hotPlugEvent (KuvLibUSBManager::HotPlugEvent event) override
    {
        (event == KuvLibUSBManager::deviceArrived ? arrivals : departures)++;
    }

    std::atomic<int> arrivals { 0 };
    std::atomic<int> departures { 0 };
};
}

TEST_F (UsbManagerTest, HotPlugEventsOfSupportedIdsReachEveryListenerOncePerEntry)
{
    auto& present = addPedal (pedalAt (1, 4));
    auto& usb = createManager();
    CountingListener twice, once;

    usb.addSupportedDevice (pedalVendor, pedalProduct);
    usb.addSupportedDevice (pedalVendor, pedalProduct);

    for (auto* listener : { &twice, (CountingListener*) nullptr, &once, &twice })
        usb.addHotPlugListener (listener);

    auto other = pedalAt (1, 9);
    other.productId = 0x0085;
    auto& foreign = addPedal (other);
    auto& pedal = addPedal();

    // One more joins while that arrival may be walked on the "libusb" thread.
    CountingListener late;
    usb.addHotPlugListener (&late);
    ASSERT_TRUE (waitFor ([&] { return twice.arrivals == 2 && once.arrivals == 1 && foreign.isListedIn (usb.usbContext); }));

    // A device present before the registration reports only its departure.
    for (auto* p : { &foreign, &pedal, &present })
        p->unplug();

    ASSERT_TRUE (waitFor ([&] { return twice.departures == 4 && once.departures == 2 && late.departures == 2; }));

    // Events arrive in order, so any further one for either device would have come by now.
    EXPECT_EQ (twice.arrivals, 2);
    EXPECT_EQ (once.arrivals, 1);
    EXPECT_EQ (once.departures, 2);
}
