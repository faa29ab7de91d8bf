#include "SimulatedPedal.h"

#include <gtest/gtest.h>

#include <fstream>

namespace
{
/** The pedal talks on 0x01 and 0x81 when it has them, else on its first OUT and first IN. */
juce::uint8 protocolEndpoint (const UsbDeviceDescription& description, bool in)
{
    const juce::uint8 preferred = in ? 0x81 : 0x01;
    auto chosen = preferred;
    auto found = false;

    if (auto* configuration = description.findConfiguration (description.initialConfiguration >= 0
                                                                 ? description.initialConfiguration
                                                                 : description.firstConfigurationValue()))
    {
        if (! configuration->alternateSettings.empty())
        {
            for (auto address : configuration->alternateSettings.front().endpointAddresses)
            {
                if (address == preferred)
                    return preferred;

                if (! found && ((address & 0x80) != 0) == in)
                {
                    chosen = address;
                    found = true;
                }
            }
        }
    }

    return chosen;
}

juce::String toHex (const std::vector<juce::uint8>& bytes)
{
    return juce::String::toHexString (bytes.data(), (int) bytes.size(), 0).toUpperCase();
}

int deviceMinor (const UsbDeviceDescription& description)
{
    return (description.busNumber - 1) * 128 + description.address - 1;
}
}

SimulatedPedal::SimulatedPedal (UsbTestbed& bed, UsbDeviceDescription d)
    : testbed (bed), description (std::move (d))
{
    addressReserved = testbed.reserveAddress (description.busNumber, description.address);

    if (! addressReserved)
        ADD_FAILURE() << "two simulated devices at " << description.devicePath() << " would share one device node";

    UsbfsResponder::Callbacks callbacks;
    callbacks.configurationChanged = [attribute = configurationAttribute()] (int value)
    {
        writeActiveConfiguration (attribute, value);
    };
    callbacks.pulledOutByFunction = [&bed, state = plugState, copy = description, node = nodeFile()]
    {
        bed.runOnTestbedThread ([&bed, state, copy, node] { removeFromTestbed (bed, *state, copy, node); });
    };

    pedalFirmware = std::make_shared<PedalFirmware> (protocolEndpoint (description, false), protocolEndpoint (description, true));
    responder = std::make_unique<UsbfsResponder> (description, pedalFirmware, std::move (callbacks));

    if (! description.nodeRefusesOpen)
        handlerAttached = testbed.attachIoctlHandler (description.devicePath(), responder->getIoctlHandler());
}

SimulatedPedal::~SimulatedPedal()
{
    testbed.waitForTestbedThread();
    unplug();

    if (handlerAttached)
        testbed.detachIoctlHandler (description.devicePath());

    responder.reset();

    if (addressReserved)
        testbed.releaseAddress (description.busNumber, description.address);
}

void SimulatedPedal::plug()
{
    // A pull-out the pedal started itself must be over before it can come back.
    testbed.waitForTestbedThread();
    const std::lock_guard<std::mutex> lock (plugState->lock);

    if (plugState->plugged)
        return;

    responder->plugIn();

    if (description.nodeRefusesOpen)
        nodeFile().createDirectory();

    plugState->plugged = testbed.addFromRecord (buildRecord());

    if (! plugState->plugged)
        ADD_FAILURE() << "the testbed refused the record of " << description.devicePath();
}

void SimulatedPedal::unplug()
{
    responder->pullOut();
    removeFromTestbed (testbed, *plugState, description, description.nodeRefusesOpen ? nodeFile() : juce::File());
}

void SimulatedPedal::removeFromTestbed (UsbTestbed& bed, PlugState& state, const UsbDeviceDescription& d,
                                        const juce::File& refusingNode)
{
    const std::lock_guard<std::mutex> lock (state.lock);

    if (! state.plugged)
        return;

    bed.removeDevice (d.sysfsPath());

    if (refusingNode != juce::File())
        refusingNode.deleteRecursively();

    state.plugged = false;
}

bool SimulatedPedal::isPlugged() const
{
    const std::lock_guard<std::mutex> lock (plugState->lock);
    return plugState->plugged;
}

bool SimulatedPedal::isListedIn (libusb_context* context) const
{
    libusb_device** list = nullptr;
    const auto count = libusb_get_device_list (context, &list);

    if (count < 0)
        return false;

    auto found = false;

    for (ssize_t i = 0; i < count && ! found; ++i)
        found = libusb_get_bus_number (list[i]) == description.busNumber
             && libusb_get_device_address (list[i]) == description.address;

    libusb_free_device_list (list, 1);
    return found;
}

std::vector<UsbfsResponder::ControlRequest> SimulatedPedal::getControlRequests() const
{
    return responder->getControlRequests();
}

int SimulatedPedal::getActiveConfiguration() const
{
    return responder->getActiveConfiguration();
}

int SimulatedPedal::countPendingUrbs() const
{
    return responder->countPendingUrbs();
}

juce::File SimulatedPedal::nodeFile() const
{
    return testbed.getRootDirectory().getChildFile (description.devicePath().substring (1));
}

juce::File SimulatedPedal::configurationAttribute() const
{
    return testbed.getRootDirectory().getChildFile ("sys" + description.sysfsPath()).getChildFile ("bConfigurationValue");
}

void SimulatedPedal::writeActiveConfiguration (const juce::File& attribute, int value)
{
    // libusb reads the active configuration from sysfs, where the kernel keeps it.
    std::ofstream file (attribute.getFullPathName().toStdString(), std::ios::trunc);
    file << (value > 0 ? juce::String (value) + "\n" : juce::String()).toStdString();
}

juce::String SimulatedPedal::buildRecord() const
{
    const auto busText = juce::String::formatted ("%03d", description.busNumber);
    const auto addressText = juce::String::formatted ("%03d", description.address);
    const auto configuration = description.initialConfiguration >= 0 ? description.initialConfiguration
                                                                     : description.firstConfigurationValue();

    juce::StringArray lines;
    lines.add ("P: " + description.sysfsPath());

    if (! description.nodeRefusesOpen)
        lines.add ("N: bus/usb/" + busText + "/" + addressText);

    lines.add ("E: DEVNAME=" + description.devicePath());
    lines.add ("E: DEVTYPE=usb_device");
    lines.add ("E: SUBSYSTEM=usb");
    lines.add ("E: DRIVER=usb");
    lines.add ("E: BUSNUM=" + busText);
    lines.add ("E: DEVNUM=" + addressText);
    lines.add ("E: MAJOR=189");
    lines.add ("E: MINOR=" + juce::String (deviceMinor (description)));
    lines.add (juce::String::formatted ("E: PRODUCT=%x/%x/%x", description.vendorId, description.productId,
                                        description.deviceRelease));
    lines.add ("A: busnum=" + juce::String (description.busNumber) + "\\n");
    lines.add ("A: devnum=" + juce::String (description.address) + "\\n");
    lines.add ("A: speed=480\\n");
    lines.add ("A: bConfigurationValue=" + (configuration > 0 ? juce::String (configuration) + "\\n" : juce::String()));
    lines.add (juce::String::formatted ("A: idVendor=%04x\\n", description.vendorId));
    lines.add (juce::String::formatted ("A: idProduct=%04x\\n", description.productId));
    lines.add ("A: dev=189:" + juce::String (deviceMinor (description)) + "\\n");
    lines.add ("H: descriptors=" + toHex (description.sysfsDescriptors()));
    return lines.joinIntoString ("\n") + "\n";
}
