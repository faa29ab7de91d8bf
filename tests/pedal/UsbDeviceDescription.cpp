#include "UsbDeviceDescription.h"

namespace
{
void appendLittleEndian16 (std::vector<juce::uint8>& bytes, int value)
{
    bytes.push_back ((juce::uint8) (value & 0xff));
    bytes.push_back ((juce::uint8) ((value >> 8) & 0xff));
}
}

UsbDeviceDescription UsbDeviceDescription::withEndpoints (std::vector<juce::uint8> endpointAddresses)
{
    UsbDeviceDescription description;
    description.configurations = { { 1, { { std::move (endpointAddresses) } } } };
    return description;
}

std::vector<juce::uint8> UsbDeviceDescription::deviceDescriptor() const
{
    std::vector<juce::uint8> bytes { 18, 0x01 };
    appendLittleEndian16 (bytes, 0x0200);
    bytes.insert (bytes.end(), { 0x00, 0x00, 0x00, 64 });
    appendLittleEndian16 (bytes, vendorId);
    appendLittleEndian16 (bytes, productId);
    appendLittleEndian16 (bytes, deviceRelease);
    bytes.push_back (manufacturer.index);
    bytes.push_back (product.index);
    bytes.push_back (serialNumber.index);
    bytes.push_back ((juce::uint8) configurations.size());
    return bytes;
}

std::vector<juce::uint8> UsbDeviceDescription::configurationDescriptor (size_t configurationIndex) const
{
    const auto& configuration = configurations.at (configurationIndex);
    const auto interfaceCount = configuration.alternateSettings.empty() ? 0 : 1;

    std::vector<juce::uint8> bytes { 9, 0x02, 0, 0, (juce::uint8) interfaceCount, configuration.value, 0, 0x80, 50 };

    for (size_t alternate = 0; alternate < configuration.alternateSettings.size(); ++alternate)
    {
        const auto& endpoints = configuration.alternateSettings[alternate].endpointAddresses;
        bytes.insert (bytes.end(), { 9, 0x04, 0, (juce::uint8) alternate, (juce::uint8) endpoints.size(), 0xff, 0, 0, 0 });

        for (auto endpoint : endpoints)
        {
            bytes.insert (bytes.end(), { 7, 0x05, endpoint, 0x02 });
            appendLittleEndian16 (bytes, 512);
            bytes.push_back (0);
        }
    }

    bytes[2] = (juce::uint8) (bytes.size() & 0xff);
    bytes[3] = (juce::uint8) (bytes.size() >> 8);
    return bytes;
}

std::vector<juce::uint8> UsbDeviceDescription::stringDescriptor (juce::uint8 index) const
{
    if (index == 0)
        return { 4, 0x03, 0x09, 0x04 };

    for (const auto* entry : { &manufacturer, &product, &serialNumber })
    {
        if (entry->index != index)
            continue;

        std::vector<juce::uint8> bytes { 2, 0x03 };

        for (auto* unit = entry->text.toUTF16().getAddress(); *unit != 0; ++unit)
            appendLittleEndian16 (bytes, (int) (juce::uint16) *unit);

        bytes[0] = (juce::uint8) juce::jmin ((size_t) 254, bytes.size());
        bytes.resize (bytes[0]);
        return bytes;
    }

    return {};
}

std::vector<juce::uint8> UsbDeviceDescription::sysfsDescriptors() const
{
    auto bytes = deviceDescriptor();

    for (size_t i = 0; i < configurations.size(); ++i)
    {
        const auto configuration = configurationDescriptor (i);
        bytes.insert (bytes.end(), configuration.begin(), configuration.end());
    }

    return bytes;
}

int UsbDeviceDescription::firstConfigurationValue() const
{
    return configurations.empty() ? 0 : configurations.front().value;
}

const UsbDeviceDescription::Configuration* UsbDeviceDescription::findConfiguration (int value) const
{
    for (const auto& configuration : configurations)
        if (configuration.value == value)
            return &configuration;

    return nullptr;
}

juce::String UsbDeviceDescription::devicePath() const
{
    return juce::String::formatted ("/dev/bus/usb/%03d/%03d", busNumber, address);
}

juce::String UsbDeviceDescription::sysfsPath() const
{
    return juce::String::formatted ("/devices/pci0000:00/0000:00:14.0/usb%d/%d-%d", busNumber, busNumber, address);
}
