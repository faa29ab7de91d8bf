#include "helpers/UsbFixture.h"

using Kind = UsbfsResponder::ControlRequest::Kind;
using UsbDeviceTest = UsbFixture;

TEST_F (UsbDeviceTest, OpenTakesExactlyThisDeviceAndSetupChoosesConfigurationSettingAndEndpoints)
{
    using Configuration = UsbDeviceDescription::Configuration;
    using Request = std::tuple<Kind, int, int>;   // kind, value, alternate setting

    const struct { std::vector<Configuration> configurations; bool setUp; std::vector<Request> requests; juce::uint8 out, in; } cases[] {
        // The first configuration and the first alternate setting, both chosen on the wire only when there is a choice.
        { { { 1, { { { 0x02, 0x82 } }, { { 0x01, 0x81 } } } }, { 2, { { { 0x03, 0x83 } } } } }, true,
          { { Kind::setConfiguration, 1, 0 }, { Kind::claimInterface, 0, 0 }, { Kind::setInterface, 0, 0 } }, 0x02, 0x82 },
        // The first OUT of 0x01-0x0F and the first IN of 0x80-0x8F; none without an interface.
        { { { 1, { { { 0x10, 0x7f, 0x90, 0xff, 0x8f, 0x0f, 0x81, 0x01 } } } } }, true, { { Kind::claimInterface, 0, 0 } }, 0x0f, 0x8f },
        { { { 1, {} } }, false, {}, 0xff, 0xff },
    };

    juce::KuvLibUSBManager usb;

    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        SCOPED_TRACE (i);
        auto description = pedalAt (1, i + 1);
        description.configurations = cases[i].configurations;
        description.initialConfiguration = (int) cases[i].configurations.size();   // not 1 when there are two
        auto& pedal = addPedal (description);
        ASSERT_TRUE (waitFor ([&] { return pedal.isListedIn (usb.usbContext); }));

        juce::KuvLibUSB_Device device;
        ASSERT_TRUE (device.open (0x9002, 0x0084, 1, (juce::uint8) (i + 1)));
        EXPECT_EQ (device.selectAlterate(), cases[i].setUp);

        std::vector<Request> requests;

        for (auto& r : pedal.getControlRequests())
            requests.emplace_back (r.kind, r.value, r.alternate);

        EXPECT_EQ (requests, cases[i].requests);
        EXPECT_EQ (device.outEndpoint, cases[i].out);
        EXPECT_EQ (device.inEndpoint, cases[i].in);
    }

    // Only both 0xFF mean any position; a single one is a bus or an address like any other.
    const struct { juce::uint16 product; juce::uint8 bus, address; bool found; } positions[] {
        { 0x0084, 0xff, 0xff, true }, { 0x0085, 1, 1, false }, { 0x0084, 2, 1, false },
        { 0x0084, 1, 9, false }, { 0x0084, 0xff, 1, false }, { 0x0084, 1, 0xff, false },
    };

    for (auto& p : positions)
        EXPECT_EQ (juce::KuvLibUSB_Device().open (0x9002, p.product, p.bus, p.address), p.found) << (int) p.bus << "/" << (int) p.address;
}
