#include "SimulatedPedal.h"

#include <gtest/gtest.h>
#include <umockdev.h>

SimulatedPedal::SimulatedPedal (UsbTestbed& bed, UsbDeviceDescription d)
    : testbed (bed), description (std::move (d)),
      pedalFirmware (std::make_shared<PedalFirmware> (description.protocolEndpoint (false), description.protocolEndpoint (true))),
      handler (umockdev_ioctl_base_new())
{
    const auto attribute = testbed.getRootDirectory().getChildFile ("sys" + description.sysfsPath() + "/bConfigurationValue");

    responder = std::make_shared<UsbfsResponder> (description, pedalFirmware, attribute, [this]
    {
        const std::lock_guard<std::mutex> lock (removalLock);

        if (removal.joinable())
            removal.join();

        removal = std::thread ([this] { removeFromTestbed(); });
    });

    UsbfsResponder::serve (handler, responder);

    handlerAttached = ! description.nodeRefusesOpen && testbed.attachIoctlHandler (description.devicePath(), handler);
    EXPECT_EQ (handlerAttached, ! description.nodeRefusesOpen) << "no ioctl handler at " << description.devicePath();
}

SimulatedPedal::~SimulatedPedal()
{
    responder->pullOut();
    finishRemoval();
    removeFromTestbed();

    if (handlerAttached)
        testbed.detachIoctlHandler (description.devicePath());

    g_signal_handlers_destroy (handler);
    g_object_unref (handler);
}

void SimulatedPedal::plug()
{
    finishRemoval();
    const std::lock_guard<std::mutex> lock (plugLock);

    if (plugged)
        return;

    responder->plugIn();

    if (description.nodeRefusesOpen)
        nodeFile().createDirectory();

    plugged = testbed.addFromRecord (description.record());

    if (! plugged)
        ADD_FAILURE() << "the testbed refused the record of " << description.devicePath();
}

void SimulatedPedal::unplug()
{
    responder->pullOut();
    removeFromTestbed();
}

void SimulatedPedal::removeFromTestbed()
{
    const std::lock_guard<std::mutex> lock (plugLock);

    if (! plugged)
        return;

    testbed.removeDevice (description.sysfsPath());

    if (description.nodeRefusesOpen)
        nodeFile().deleteRecursively();

    plugged = false;
}

void SimulatedPedal::finishRemoval()
{
    std::thread finished;

    {
        const std::lock_guard<std::mutex> lock (removalLock);
        finished = std::move (removal);
    }

    if (finished.joinable())
        finished.join();
}

bool SimulatedPedal::isListedIn (libusb_context* context) const
{
    libusb_device** list = nullptr;
    const auto count = libusb_get_device_list (context, &list);
    auto found = false;

    for (ssize_t i = 0; i < count && ! found; ++i)
        found = libusb_get_bus_number (list[i]) == description.busNumber
             && libusb_get_device_address (list[i]) == description.address;

    if (count >= 0)
        libusb_free_device_list (list, 1);

    return found;
}

juce::File SimulatedPedal::nodeFile() const
{
    return testbed.getRootDirectory().getChildFile (description.devicePath().substring (1));
}
