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
/** A testbed and the pedals in it, torn down in the order libusb needs: every library context
    (a USB manager's, made in the test) first, then the pedals, then the testbed.
*/
class UsbFixture : public ::testing::Test
{
protected:
    void TearDown() override    { pedals.clear(); }

    SimulatedPedal& addPedal (UsbDeviceDescription description = {})
    {
        pedals.push_back (std::make_unique<SimulatedPedal> (testbed, std::move (description)));
        pedals.back()->plug();
        return *pedals.back();
    }

    UsbTestbed testbed;
    std::vector<std::unique_ptr<SimulatedPedal>> pedals;
};
