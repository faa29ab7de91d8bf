#include "helpers/UsbFixture.h"

#include <future>

using juce::KuvLibUSB_Device;
using SimulatedPedalTest = UsbFixture;

namespace
{
juce::String readString (libusb_device_handle* handle, juce::uint8 index)
{
    unsigned char text[256] {};
    const auto length = libusb_get_string_descriptor_ascii (handle, index, text, sizeof (text));
    return length < 0 ? juce::String ("error ") + juce::String (length) : juce::String ((const char*) text, (size_t) length);
}
}

TEST_F (SimulatedPedalTest, AnswersStringDescriptorsAsDescribed)
{
    UsbDeviceDescription description;
    description.manufacturer = { 1, "  Padded Maker  " };
    description.product = { 0, "" };
    description.serialNumber = { 7, "SN-42" };
    addPedal (description);
    createManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_EQ (device.deviceDescriptor.iProduct, 0);
    EXPECT_EQ (readString (device.deviceHandle, 1), "  Padded Maker  ");
    EXPECT_EQ (readString (device.deviceHandle, 7), "SN-42");
    EXPECT_EQ (readString (device.deviceHandle, 2), "error " + juce::String (LIBUSB_ERROR_PIPE));
}

TEST_F (SimulatedPedalTest, UnplugFailsTheTransferUnderWayAndEveryLaterOne)
{
    auto& pedal = addPedal();
    auto& usb = createManager();
    CountingListener listener;
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    usb.addHotPlugListener (&listener);

    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    ASSERT_TRUE (device.selectAlterate());

    auto read = std::async (std::launch::async, [&]
    {
        unsigned char buffer[64];
        int transferred = 0;
        return libusb_bulk_transfer (device.deviceHandle, device.inEndpoint, buffer, sizeof (buffer), &transferred, 10000);
    });

    ASSERT_TRUE (waitFor ([&] { return pedal.countPendingUrbs() == 1; }));
    pedal.unplug();

    ASSERT_EQ (read.wait_for (std::chrono::seconds (5)), std::future_status::ready);
    EXPECT_EQ (read.get(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_TRUE (waitFor ([&] { return listener.departures == 1; }));

    unsigned char command[8] { 'C', 'M', 'D', 0, 0, 0, 0, 0 };
    int transferred = 0;
    EXPECT_EQ (libusb_bulk_transfer (device.deviceHandle, device.outEndpoint, command, 8, &transferred, 1000),
               LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE (pedal.isListedIn (usb.usbContext));
}

TEST_F (SimulatedPedalTest, APedalPluggedInAgainIsAFreshDevice)
{
    auto& pedal = addPedal();
    auto& usb = createManager();
    CountingListener listener;
    usb.addSupportedDevice (pedalVendor, pedalProduct);
    usb.addHotPlugListener (&listener);

    KuvLibUSB_Device before;
    ASSERT_TRUE (before.open (pedalVendor, pedalProduct, 0xff, 0xff));
    ASSERT_TRUE (before.selectAlterate());

    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return listener.departures == 1; }));
    pedal.plug();
    ASSERT_TRUE (waitFor ([&] { return listener.arrivals == 1; }));

    // The old handle stays dead; a new one claims the interface the old one held.
    EXPECT_EQ (libusb_claim_interface (before.deviceHandle, 0), LIBUSB_ERROR_NO_DEVICE);
    KuvLibUSB_Device after;
    ASSERT_TRUE (after.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_TRUE (after.selectAlterate());
}
