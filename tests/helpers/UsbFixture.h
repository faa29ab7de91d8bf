#pragma once

#include <gtest/gtest.h>
#include <juce_myModule/juce_myModule.h>

#include "pedal/SimulatedPedal.h"
#include "WaitFor.h"

/** The pedal (9002:0084) at this position. */
inline UsbDeviceDescription pedalAt (int busNumber, int address)
{
    UsbDeviceDescription description;
    description.busNumber = busNumber;
    description.address = address;
    return description;
}

//==============================================================================
/** A testbed, the pedals in it and the USB manager, torn down in the order libusb needs:
    the manager (and with it the library context) first, then the pedals, then the testbed.
*/
class UsbFixture : public ::testing::Test
{
protected:
    void TearDown() override
    {
        manager.reset();
        pedals.clear();
    }

    SimulatedPedal& addPedal (UsbDeviceDescription description = {})
    {
        pedals.push_back (std::make_unique<SimulatedPedal> (testbed, std::move (description)));
        pedals.back()->plug();
        return *pedals.back();
    }

    juce::KuvLibUSBManager& createManager()
    {
        manager = std::make_unique<juce::KuvLibUSBManager>();
        return *manager;
    }

    UsbTestbed testbed;
    std::vector<std::unique_ptr<SimulatedPedal>> pedals;
    std::unique_ptr<juce::KuvLibUSBManager> manager;
};
