#include "UsbDeviceDescription.h"

namespace
{
void append16 (std::vector<juce::uint8>& bytes, int value)
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

std::vector<juce::uint8> UsbDeviceDescription::descriptor (int type, int index) const
{
    std::vector<juce::uint8> bytes;

    if (type == 1)
    {
        bytes = { 18, 0x01, 0x00, 0x02, 0, 0, 0, 64 };
        append16 (bytes, vendorId);
        append16 (bytes, productId);
        append16 (bytes, deviceRelease);
        bytes.insert (bytes.end(), { manufacturer.index, product.index, serialNumber.index, (juce::uint8) configurations.size() });
    }
    else if (type == 2 && index < (int) configurations.size())
    {
        const auto& configuration = configurations[(size_t) index];
        const auto interfaces = (juce::uint8) (configuration.alternateSettings.empty() ? 0 : 1);
        bytes = { 9, 0x02, 0, 0, interfaces, configuration.value, 0, 0x80, 50 };

        for (size_t alternate = 0; alternate < configuration.alternateSettings.size(); ++alternate)
        {
            const auto& endpoints = configuration.alternateSettings[alternate].endpointAddresses;
            bytes.insert (bytes.end(), { 9, 0x04, 0, (juce::uint8) alternate, (juce::uint8) endpoints.size(), 0xff, 0, 0, 0 });

            for (auto endpoint : endpoints)
                bytes.insert (bytes.end(), { 7, 0x05, endpoint, 0x02, 0x00, 0x02, 0 });   // bulk, 512 bytes
        }

        bytes[2] = (juce::uint8) (bytes.size() & 0xff);
        bytes[3] = (juce::uint8) (bytes.size() >> 8);
    }
    else if (type == 3 && index == 0)
    {
        bytes = { 4, 0x03, 0x09, 0x04 };   // the languages: US English
    }
    else if (type == 3)
    {
        for (const auto* entry : { &manufacturer, &product, &serialNumber })
        {
            if (entry->index != index)
                continue;

            bytes = { 2, 0x03 };

            for (auto* unit = entry->text.toUTF16().getAddress(); *unit != 0 && bytes.size() < 254; ++unit)
                append16 (bytes, (int) (juce::uint16) *unit);

            bytes[0] = (juce::uint8) bytes.size();
        }
    }

    return bytes;
}

const UsbDeviceDescription::Configuration* UsbDeviceDescription::findConfiguration (int value) const
{
    for (const auto& configuration : configurations)
        if (configuration.value == value)
            return &configuration;

    return nullptr;
}

int UsbDeviceDescription::startingConfiguration() const
{
    if (initialConfiguration >= 0 || configurations.empty())
        return juce::jmax (0, initialConfiguration);

    return configurations.front().value;
}

juce::uint8 UsbDeviceDescription::protocolEndpoint (bool in) const
{
    const juce::uint8 preferred = in ? 0x81 : 0x01;
    const auto* configuration = findConfiguration (startingConfiguration());

    if (configuration == nullptr || configuration->alternateSettings.empty())
        return preferred;

    const auto& endpoints = configuration->alternateSettings.front().endpointAddresses;

    if (std::find (endpoints.begin(), endpoints.end(), preferred) != endpoints.end())
        return preferred;

    for (auto endpoint : endpoints)
        if (((endpoint & 0x80) != 0) == in)
            return endpoint;

    return preferred;
}

juce::String UsbDeviceDescription::devicePath() const
{
    return juce::String::formatted ("/dev/bus/usb/%03d/%03d", busNumber, address);
}

juce::String UsbDeviceDescription::sysfsPath() const
{
    return juce::String::formatted ("/devices/pci0000:00/0000:00:14.0/usb%d/%d-%d", busNumber, busNumber, address);
}

juce::String UsbDeviceDescription::record() const
{
    // The kernel shows the device descriptor followed by every configuration descriptor.
    auto descriptors = descriptor (1, 0);

    for (int i = 0; i < (int) configurations.size(); ++i)
    {
        const auto configuration = descriptor (2, i);
        descriptors.insert (descriptors.end(), configuration.begin(), configuration.end());
    }

    const auto configuration = startingConfiguration();
    juce::StringArray lines { "P: " + sysfsPath() };

    if (! nodeRefusesOpen)
        lines.add ("N: " + devicePath().substring (5));

    lines.addArray ({ "E: DEVNAME=" + devicePath(),
                      "E: DEVTYPE=usb_device",
                      "E: SUBSYSTEM=usb",
                      "A: busnum=" + juce::String (busNumber) + "\\n",
                      "A: devnum=" + juce::String (address) + "\\n",
                      "A: speed=480\\n",
                      "A: bConfigurationValue=" + (configuration > 0 ? juce::String (configuration) + "\\n" : juce::String()),
                      "H: descriptors=" + juce::String::toHexString (descriptors.data(), (int) descriptors.size(), 0) });
    return lines.joinIntoString ("\n") + "\n";
}
