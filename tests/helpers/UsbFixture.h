#pragma once

#include <gtest/gtest.h>
#include <juce_myModule/juce_myModule.h>

#include "pedal/SimulatedPedal.h"
#include "pedal/UsbTestbed.h"
#include "WaitFor.h"

#include <atomic>

constexpr juce::uint16 pedalVendor = 0x9002;
constexpr juce::uint16 pedalProduct = 0x0084;

inline UsbDeviceDescription pedalAt (int busNumber, int address)
{
    UsbDeviceDescription description;
    description.busNumber = busNumber;
    description.address = address;
    return description;
}

/** Opens the first pedal through the USB layer and sets up its interface. */
inline bool openAndSetUp (juce::KuvLibUSB_Device& device)
{
    return device.open (pedalVendor, pedalProduct, 0xff, 0xff) && device.selectAlterate();
}

/** Counts the hot-plug events it is told of, from the "libusb" thread. */
struct CountingListener : public juce::KuvLibUSBManager::Listener
{
    void hotPlugEvent (juce::KuvLibUSBManager::HotPlugEvent event) override
    {
        (event == juce::KuvLibUSBManager::deviceArrived ? arrivals : departures)++;
    }

    std::atomic<int> arrivals { 0 };
    std::atomic<int> departures { 0 };
};

//==============================================================================
/** A testbed, the pedals in it and the USB manager, torn down in the order libusb needs:
    the manager (and with it the library context) first, then the pedals, then the testbed.
*/
class UsbFixture : public ::testing::Test
{
protected:
    void TearDown() override
    {
        deleteManager();
        pedals.clear();
    }

    SimulatedPedal& addPedal (UsbDeviceDescription description = {}, bool plugged = true)
    {
        pedals.push_back (std::make_unique<SimulatedPedal> (testbed, std::move (description)));

        if (plugged)
            pedals.back()->plug();

        return *pedals.back();
    }

    juce::KuvLibUSBManager& createManager()
    {
        manager = std::make_unique<juce::KuvLibUSBManager>();
        return *manager;
    }

    /** A manager with the pedal's ids registered and `hotPlug` listening. */
    juce::KuvLibUSBManager& createWatchingManager()
    {
        auto& usb = createManager();
        usb.addSupportedDevice (pedalVendor, pedalProduct);
        usb.addHotPlugListener (&hotPlug);
        return usb;
    }

    void deleteManager()
    {
        manager.reset();
    }

    UsbTestbed testbed;
    std::vector<std::unique_ptr<SimulatedPedal>> pedals;
    CountingListener hotPlug;
    std::unique_ptr<juce::KuvLibUSBManager> manager;
};

