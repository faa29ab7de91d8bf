#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** What a simulated USB device tells the host about itself: ids, strings, where it sits on
    the bus, and its configurations with the endpoints of interface 0. Every configuration
    has interface 0 alone; an empty list of alternate settings means no interface at all.
*/
struct UsbDeviceDescription
{
    struct AlternateSetting
    {
        std::vector<juce::uint8> endpointAddresses;
    };

    struct Configuration
    {
        juce::uint8 value = 1;
        std::vector<AlternateSetting> alternateSettings;
    };

    juce::uint16 vendorId = 0x9002;
    juce::uint16 productId = 0x0084;
    juce::uint16 deviceRelease = 0x0100;

    /** A string descriptor; index 0 means the device has none. */
    struct Text
    {
        juce::uint8 index = 0;
        juce::String text;
    };

    Text manufacturer { 1, "Quendrix Test Works" };
    Text product { 2, "Phrase Pedal" };
    Text serialNumber { 3, "SIM0001" };

    int busNumber = 1;
    int address = 5;

    std::vector<Configuration> configurations { { 1, { { { 0x01, 0x81 } } } } };

    /** The configuration value the device starts in; -1 takes the first configuration's. */
    int initialConfiguration = -1;

    /** The device node exists but nothing can open it. */
    bool nodeRefusesOpen = false;

    //==============================================================================
    /** A pedal with these endpoints on its only alternate setting of its only configuration. */
    static UsbDeviceDescription withEndpoints (std::vector<juce::uint8> endpointAddresses);

    /** A GET_DESCRIPTOR answer: device (1), configuration (2) or string (3); empty if there is none. */
    std::vector<juce::uint8> descriptor (int type, int index) const;

    const Configuration* findConfiguration (int value) const;
    int startingConfiguration() const;

    /** The pedal talks on 0x01 and 0x81 when it starts with them, else on its first OUT and IN. */
    juce::uint8 protocolEndpoint (bool in) const;

    juce::String devicePath() const;   // "/dev/bus/usb/001/005"
    juce::String sysfsPath() const;    // "/devices/.../usb1/1-5"

    /** The umockdev record that adds the device. */
    juce::String record() const;
};
