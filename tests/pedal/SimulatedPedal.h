#pragma once

#include "PedalFirmware.h"
#include "UsbDeviceDescription.h"
#include "UsbTestbed.h"
#include "UsbfsResponder.h"

#include <libusb.h>

#include <memory>
#include <mutex>

/** One simulated pedal in a UsbTestbed, for the real libusb of this process or of a child.

    plug() adds it (libusb hears "add"), unplug() pulls it out: its pending URBs fail with
    -ESHUTDOWN, later ioctls of the files opened before with ENODEV, then "remove" is sent and
    the sysfs entry deleted. A host that must see the arrival before the removal waits for it
    first (isListedIn). libusb lists the device plugged in last first; at its start it lists the
    devices present in reverse order of their sysfs paths. The pedal answers its command protocol on 0x01/0x81 (or its first OUT and
    IN endpoints without them); whatever it received is recorded and can be read from any thread.

    Delete it after every libusb context that might still use it has been closed.
*/
class SimulatedPedal
{
public:
    SimulatedPedal (UsbTestbed& testbed, UsbDeviceDescription description = {});
    ~SimulatedPedal();

    void plug();
    void unplug();
    bool isPlugged() const;

    const UsbDeviceDescription& getDescription() const noexcept     { return description; }

    /** The pedal's command protocol: its wave information, phrases, records and faults. */
    PedalFirmware& firmware() const noexcept                        { return *pedalFirmware; }

    /** Whether the context's device list holds a device at this pedal's bus and address. */
    bool isListedIn (libusb_context* context) const;

    std::vector<UsbfsResponder::ControlRequest> getControlRequests() const;
    int getActiveConfiguration() const;
    int countPendingUrbs() const;

private:
    struct PlugState
    {
        std::mutex lock;
        bool plugged = false;
    };

    juce::String buildRecord() const;
    juce::File nodeFile() const;
    juce::File configurationAttribute() const;
    static void writeActiveConfiguration (const juce::File& attribute, int value);
    static void removeFromTestbed (UsbTestbed&, PlugState&, const UsbDeviceDescription&, const juce::File& refusingNode);

    UsbTestbed& testbed;
    const UsbDeviceDescription description;
    const std::shared_ptr<PlugState> plugState = std::make_shared<PlugState>();
    std::shared_ptr<PedalFirmware> pedalFirmware;
    std::unique_ptr<UsbfsResponder> responder;
    bool addressReserved = false;
    bool handlerAttached = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SimulatedPedal)
};
