#include "helpers/UsbFixture.h"

using juce::KuvLibUSBManager;
using UsbManagerTest = UsbFixture;

TEST_F (UsbManagerTest, HotPlugEventsReachEveryListenerOncePerEntry)
{
    /** Counts the hot-plug events it is told of, from the "libusb" thread. */
    struct CountingListener : public KuvLibUSBManager::Listener
    {
        void hotPlugEvent (KuvLibUSBManager::HotPlugEvent e) override   { (e == KuvLibUSBManager::deviceArrived ? arrivals : departures)++; }

        std::atomic<int> arrivals { 0 }, departures { 0 };
    };

    KuvLibUSBManager usb;
    CountingListener twice, late;
    usb.addSupportedDevice (0x9002, 0x0084);
    usb.addSupportedDevice (0x9002, 0x0084);   // registers nothing more

    for (auto* listener : { &twice, (CountingListener*) nullptr, &twice })
        usb.addHotPlugListener (listener);

    auto& pedal = addPedal();
    usb.addHotPlugListener (&late);   // while that arrival may be walked on the "libusb" thread
    ASSERT_TRUE (waitFor ([&] { return twice.arrivals == 2; }));

    auto other = pedalAt (1, 9);
    other.productId = 0x0085;   // the maker's next product: no event
    auto& foreign = addPedal (other);
    ASSERT_TRUE (waitFor ([&] { return foreign.isListedIn (usb.usbContext); }));
    foreign.unplug();

    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return twice.departures == 2 && late.departures == 1; }));
    EXPECT_EQ (twice.arrivals, 2);   // events arrive in order, so any further one would have come by now
}
