#include "helpers/UsbFixture.h"

using juce::KuvLibUSB_Device;
using Kind = UsbfsResponder::ControlRequest::Kind;
using UsbDeviceTest = UsbFixture;

TEST_F (UsbDeviceTest, OpenTakesTheDeviceWithTheseIdsAtExactlyThisPosition)
{
    for (auto& d : { pedalAt (1, 4), pedalAt (2, 4), pedalAt (255, 9) })
        addPedal (d);

    createManager();

    auto positionOf = [] (const KuvLibUSB_Device& device) -> std::pair<int, int>
    {
        if (device.deviceHandle == nullptr)
            return {};

        auto* d = libusb_get_device (device.deviceHandle);
        return { libusb_get_bus_number (d), libusb_get_device_address (d) };
    };

    // Only both 0xFF mean any position; a single one is a bus or an address like any other.
    const struct { juce::uint16 product; juce::uint8 bus, address; std::pair<int, int> opened; } cases[] {
        { pedalProduct, 2, 4, { 2, 4 } }, { pedalProduct, 0xff, 9, { 255, 9 } }, { 0x0085, 2, 4, {} },
        { pedalProduct, 2, 5, {} }, { pedalProduct, 0xff, 4, {} }, { pedalProduct, 1, 0xff, {} },
    };

    for (auto& c : cases)
    {
        KuvLibUSB_Device device;
        EXPECT_EQ (device.open (pedalVendor, c.product, c.bus, c.address), c.opened.first != 0);
        EXPECT_EQ (positionOf (device), c.opened) << juce::String::formatted ("%04x at %d/%d", c.product, c.bus, c.address);
    }
}

TEST_F (UsbDeviceTest, SetupChoosesConfigurationSettingAndEndpointsAndClosingReleasesTheInterface)
{
    using Configuration = UsbDeviceDescription::Configuration;
    using Request = std::tuple<Kind, int, int>;   // kind, value, alternate setting
    const std::vector<Request> claimOnly { { Kind::claimInterface, 0, 0 } };

    const struct { std::vector<Configuration> configurations; bool setUp; std::vector<Request> requests; juce::uint8 out, in; } cases[] {
        // Two configurations, two alternate settings: the first of each, chosen on the wire.
        { { { 1, { { { 0x02, 0x82 } } } }, { 2, { { { 0x01, 0x81 } } } } }, true,
          { { Kind::setConfiguration, 1, 0 }, { Kind::claimInterface, 0, 0 } }, 0x02, 0x82 },
        { { { 1, { { { 0x01, 0x81 } }, { { 0x03, 0x83 } } } } }, true,
          { { Kind::claimInterface, 0, 0 }, { Kind::setInterface, 0, 0 } }, 0x01, 0x81 },
        // The first OUT of 0x01-0x0F and the first IN of 0x80-0x8F, or none.
        { { { 1, { { { 0x10, 0x7f, 0x90, 0xff, 0x02, 0x81, 0x01, 0x82 } } } } }, true, claimOnly, 0x02, 0x81 },
        { { { 1, { { { 0x8f, 0x0f } } } } }, true, claimOnly, 0x0f, 0x8f },
        { { { 1, { { { 0x10, 0x90 } } } } }, true, claimOnly, 0xff, 0xff },
        { { { 1, {} } }, false, {}, 0xff, 0xff },   // no interface at all
    };

    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        auto description = pedalAt (1, i + 1);
        description.configurations = cases[i].configurations;
        description.initialConfiguration = (int) cases[i].configurations.size();   // not 1 when there are two
        addPedal (description);
    }

    createManager();

    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        SCOPED_TRACE (i);

        KuvLibUSB_Device device;
        ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 1, (juce::uint8) (i + 1)));
        EXPECT_EQ (device.selectAlterate(), cases[i].setUp);

        std::vector<Request> requests;
        for (auto& r : pedals[(size_t) i]->getControlRequests())
            requests.emplace_back (r.kind, r.value, r.alternate);

        EXPECT_EQ (requests, cases[i].requests);
        EXPECT_EQ (device.outEndpoint, cases[i].out);
        EXPECT_EQ (device.inEndpoint, cases[i].in);
    }

    // Each device above was closed at the end of its case, which released its interface.
    KuvLibUSB_Device again;
    EXPECT_TRUE (again.open (pedalVendor, pedalProduct, 1, 1) && again.selectAlterate());
}
