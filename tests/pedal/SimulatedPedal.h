#pragma once

#include "PedalFirmware.h"
#include "UsbDeviceDescription.h"
#include "UsbTestbed.h"
#include "UsbfsResponder.h"

#include <libusb.h>

#include <thread>

/** One simulated pedal in a UsbTestbed, for the real libusb of this process or of a child.

    plug() adds it (libusb hears "add"), unplug() pulls it out: its pending URBs fail with
    -ESHUTDOWN, later ioctls of the files opened before with ENODEV, then "remove" is sent and
    the sysfs entry deleted. A host that must see the arrival before the removal waits for it
    first (isListedIn). libusb lists the device plugged in last first; at its start it lists the
    devices present in reverse order of their sysfs paths. The pedal answers its command
    protocol on 0x01/0x81 (or its first OUT and IN endpoints without them).

    Delete it after every libusb context that might still use it has been closed.
*/
class SimulatedPedal
{
public:
    SimulatedPedal (UsbTestbed& testbed, UsbDeviceDescription description = {});
    ~SimulatedPedal();

    void plug();
    void unplug();
    bool isPlugged() const                                          { const std::lock_guard<std::mutex> l (plugLock); return plugged; }

    const UsbDeviceDescription& getDescription() const noexcept     { return description; }

    /** The pedal's command protocol: its wave information, phrases, records and faults. */
    PedalFirmware& firmware() const noexcept                        { return *pedalFirmware; }

    /** Whether the context's device list holds a device at this pedal's bus and address. */
    bool isListedIn (libusb_context* context) const;

    std::vector<UsbfsResponder::ControlRequest> getControlRequests() const  { return responder->getControlRequests(); }
    int countPendingUrbs() const                                    { return responder->countPendingUrbs(); }

private:
    void removeFromTestbed();
    void finishRemoval();
    juce::File nodeFile() const;

    UsbTestbed& testbed;
    const UsbDeviceDescription description;
    const std::shared_ptr<PedalFirmware> pedalFirmware;
    std::shared_ptr<UsbfsResponder> responder;
    UMockdevIoctlBase* handler = nullptr;
    bool handlerAttached = false;

    mutable std::mutex plugLock;
    bool plugged = false;

    // A pull-out the firmware starts on umockdev's thread finishes on this one.
    std::mutex removalLock;
    std::thread removal;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SimulatedPedal)
};
