#include "helpers/TestbedChildProcess.h"
#include "helpers/UsbFixture.h"

#include <future>

using juce::KuvLibUSB_Device;
using SimulatedPedalTest = UsbFixture;

namespace
{
/** Plain libusb bulk transfers on a pedal opened and set up by the USB layer. */
struct PlainHost
{
    bool open()
    {
        return openAndSetUp (device);
    }

    int send (std::vector<juce::uint8> bytes, unsigned int timeoutMs = 1000)
    {
        int transferred = 0;
        const auto r = libusb_bulk_transfer (device.deviceHandle, device.outEndpoint, bytes.data(),
                                             (int) bytes.size(), &transferred, timeoutMs);
        return r == 0 ? transferred : r;
    }

    /** The bytes received; r is their count, or the library's error. */
    std::vector<juce::uint8> receive (int maxLength, int& r, unsigned int timeoutMs = 1000)
    {
        std::vector<juce::uint8> bytes ((size_t) maxLength);
        int transferred = 0;
        r = libusb_bulk_transfer (device.deviceHandle, device.inEndpoint, bytes.data(), maxLength, &transferred, timeoutMs);
        bytes.resize (r == 0 ? (size_t) transferred : 0);
        r = r == 0 ? transferred : r;
        return bytes;
    }

    juce::KuvLibUSB_Device device;
};

std::vector<juce::uint8> command (juce::uint32 code)
{
    return { 'C', 'M', 'D', 0, (juce::uint8) code, 0, 0, 0 };
}

std::vector<juce::uint8> phraseCommand (juce::uint32 code, juce::uint32 slot, juce::uint32 argument)
{
    auto bytes = command (code);

    for (auto value : { slot, argument })
        for (int i = 0; i < 4; ++i)
            bytes.push_back ((juce::uint8) (value >> (8 * i)));

    return bytes;
}

std::vector<juce::uint8> pattern (size_t size)
{
    std::vector<juce::uint8> bytes (size);

    for (size_t i = 0; i < size; ++i)
        bytes[i] = (juce::uint8) (i * 7 + i / 251);

    return bytes;
}

constexpr juce::uint32 devInfoCode = 0, wavInfoCode = 1, writeCode = 2, readCode = 3;

juce::String readString (libusb_device_handle* handle, juce::uint8 index)
{
    unsigned char text[256] {};
    const auto length = libusb_get_string_descriptor_ascii (handle, index, text, sizeof (text));
    return length < 0 ? juce::String ("error ") + juce::String (length) : juce::String ((const char*) text, (size_t) length);
}
}

TEST_F (SimulatedPedalTest, AnswersStringDescriptorsAsDescribed)
{
    UsbDeviceDescription description;
    description.manufacturer = { 1, "  Padded Maker  " };
    description.product = { 0, "" };
    description.serialNumber = { 7, "SN-42" };
    addPedal (description);
    createManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (device.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_EQ (device.deviceDescriptor.iProduct, 0);
    EXPECT_EQ (readString (device.deviceHandle, 1), "  Padded Maker  ");
    EXPECT_EQ (readString (device.deviceHandle, 7), "SN-42");
    EXPECT_EQ (readString (device.deviceHandle, 2), "error " + juce::String (LIBUSB_ERROR_PIPE));
}

TEST_F (SimulatedPedalTest, UnplugFailsTheTransferUnderWayAndEveryLaterOne)
{
    auto& pedal = addPedal();
    auto& usb = createWatchingManager();

    KuvLibUSB_Device device;
    ASSERT_TRUE (openAndSetUp (device));

    auto read = std::async (std::launch::async, [&]
    {
        unsigned char buffer[64];
        int transferred = 0;
        return libusb_bulk_transfer (device.deviceHandle, device.inEndpoint, buffer, sizeof (buffer), &transferred, 10000);
    });

    ASSERT_TRUE (waitFor ([&] { return pedal.countPendingUrbs() == 1; }));
    pedal.unplug();

    ASSERT_EQ (read.wait_for (std::chrono::seconds (5)), std::future_status::ready);
    EXPECT_EQ (read.get(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_TRUE (waitFor ([&] { return hotPlug.departures == 1; }));

    unsigned char command[8] { 'C', 'M', 'D', 0, 0, 0, 0, 0 };
    int transferred = 0;
    EXPECT_EQ (libusb_bulk_transfer (device.deviceHandle, device.outEndpoint, command, 8, &transferred, 1000),
               LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE (pedal.isListedIn (usb.usbContext));
}

TEST_F (SimulatedPedalTest, APedalPluggedInAgainIsAFreshDevice)
{
    auto& pedal = addPedal();
    createWatchingManager();

    KuvLibUSB_Device before;
    ASSERT_TRUE (openAndSetUp (before));

    pedal.unplug();
    ASSERT_TRUE (waitFor ([&] { return hotPlug.departures == 1; }));
    pedal.plug();
    ASSERT_TRUE (waitFor ([&] { return hotPlug.arrivals == 1; }));

    // The old handle stays dead; a new one claims the interface the old one held.
    EXPECT_EQ (libusb_claim_interface (before.deviceHandle, 0), LIBUSB_ERROR_NO_DEVICE);
    KuvLibUSB_Device after;
    ASSERT_TRUE (after.open (pedalVendor, pedalProduct, 0xff, 0xff));
    EXPECT_TRUE (after.selectAlterate());
}

//==============================================================================
TEST_F (SimulatedPedalTest, AnswersTheInformationCommands)
{
    auto& pedal = addPedal();
    pedal.firmware().setDeviceInfo ({ 0x42 });
    pedal.firmware().setWaveInfo ({ 7, 0, 48000, 12, 1, 0x10000000, 0 });
    createManager();

    PlainHost host;
    ASSERT_TRUE (host.open());
    int r = 0;

    EXPECT_EQ (host.send (command (devInfoCode)), 8);
    EXPECT_EQ (host.receive (4096, r), std::vector<juce::uint8> { 0x42 });

    EXPECT_EQ (host.send (command (wavInfoCode)), 8);
    const std::vector<juce::uint8> waveInfo { 7, 0, 0, 0,  0, 0, 0, 0,  0x80, 0xbb, 0, 0,  12, 0,  1, 0,
                                              0, 0, 0, 0x10,  0, 0, 0, 0 };
    EXPECT_EQ (host.receive (4096, r), waveInfo);

    // A command of the wrong length is not one: it goes unanswered.
    auto longDevInfo = command (devInfoCode);
    longDevInfo.resize (16);
    EXPECT_EQ (host.send (longDevInfo), 16);
    host.receive (4096, r, 100);
    EXPECT_EQ (r, LIBUSB_ERROR_TIMEOUT);

    EXPECT_EQ (pedal.firmware().getCommands(), (std::vector<std::vector<juce::uint8>> { command (devInfoCode), command (wavInfoCode), longDevInfo }));
}

TEST_F (SimulatedPedalTest, ReadsAndStoresPhrasesChunkByChunk)
{
    auto& pedal = addPedal();
    const auto phrase = pattern (10000);
    pedal.firmware().setPhrase (3, phrase);
    createManager();

    PlainHost host;
    ASSERT_TRUE (host.open());
    int r = 0;

    host.send (phraseCommand (readCode, 3, 0));
    EXPECT_EQ (host.receive (4096, r), (std::vector<juce::uint8> { 0, 0, 0, 0, 0x10, 0x27, 0, 0 }));

    std::vector<juce::uint8> received;

    while (received.size() < phrase.size() && r >= 0)
    {
        const auto chunk = host.receive (4096, r);
        received.insert (received.end(), chunk.begin(), chunk.end());
    }

    EXPECT_EQ (received, phrase);
    EXPECT_EQ (pedal.firmware().getSentChunkSizes(), (std::vector<int> { 4096, 4096, 1808 }));

    const auto written = pattern (6000);
    host.send (phraseCommand (writeCode, 5, 6000));
    host.receive (4096, r);
    EXPECT_EQ (r, 8);
    EXPECT_EQ (host.send ({ written.begin(), written.begin() + 4096 }), 4096);
    EXPECT_TRUE (pedal.firmware().getPhrase (5).empty());
    EXPECT_EQ (host.send ({ written.begin() + 4096, written.end() }), 1904);
    EXPECT_EQ (pedal.firmware().getPhrase (5), written);

    host.send (phraseCommand (readCode, 9, 0));
    EXPECT_EQ (host.receive (4096, r), std::vector<juce::uint8> (8));
}

TEST_F (SimulatedPedalTest, FaultsFireOnceWhereTheyWereArmed)
{
    auto& pedal = addPedal();
    auto& firmware = pedal.firmware();
    firmware.setPhrase (0, pattern (3000));
    createManager();

    PlainHost host;
    ASSERT_TRUE (host.open());
    int r = 0;

    firmware.withholdNextReply (wavInfoCode);
    host.send (command (wavInfoCode));
    host.receive (4096, r, 100);
    EXPECT_EQ (r, LIBUSB_ERROR_TIMEOUT);
    host.send (command (wavInfoCode));
    host.receive (4096, r);
    EXPECT_EQ (r, 24);

    firmware.setNextReplyLength (devInfoCode, 0);
    firmware.setNextReplyLength (wavInfoCode, 25);
    host.send (command (devInfoCode));
    host.receive (4096, r);
    EXPECT_EQ (r, 0);
    host.send (command (wavInfoCode));
    host.receive (4096, r);
    EXPECT_EQ (r, 25);

    firmware.shortenDataChunk (0, 100);
    firmware.failDataChunk (1, PedalFirmware::DataFault::stall);
    host.send (phraseCommand (readCode, 0, 0));
    host.receive (4096, r);
    EXPECT_EQ (host.receive (1024, r), std::vector<juce::uint8> (pattern (100)));
    host.receive (1024, r);
    EXPECT_EQ (r, LIBUSB_ERROR_PIPE);

    firmware.failDataChunk (1, PedalFirmware::DataFault::timeOut);
    host.send (phraseCommand (writeCode, 0, 2048));
    host.receive (4096, r);
    EXPECT_EQ (host.send (pattern (1024)), 1024);
    EXPECT_EQ (host.send (pattern (1024), 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ (firmware.getPhrase (0), pattern (3000));
}

TEST_F (SimulatedPedalTest, PullsItselfOutInTheMiddleOfAPhrase)
{
    auto& pedal = addPedal();
    pedal.firmware().setPhrase (1, pattern (3000));
    pedal.firmware().failDataChunk (1, PedalFirmware::DataFault::unplug);
    createWatchingManager();

    PlainHost host;
    ASSERT_TRUE (host.open());
    int r = 0;

    host.send (phraseCommand (readCode, 1, 0));
    host.receive (4096, r);
    host.receive (1024, r);
    EXPECT_EQ (r, 1024);
    host.receive (1024, r);
    EXPECT_EQ (r, LIBUSB_ERROR_NO_DEVICE);

    EXPECT_TRUE (waitFor ([&] { return hotPlug.departures == 1 && ! pedal.isPlugged(); }));
}

//==============================================================================
TEST_F (SimulatedPedalTest, AChildProcessTalksToThePedalOfItsHost)
{
    auto& pedal = addPedal();
    PedalFirmware::WaveInfo info;
    info.slotCount = 3;
    info.transferChunkSize = 512;
    pedal.firmware().setWaveInfo (info);

    TestbedChildProcess child;
    ASSERT_TRUE (child.start (QUENDRIX_PEDAL_PROBE_PATH, { "9002", "0084", "10000" }));
    ASSERT_TRUE (child.waitForExit (10000));
    EXPECT_EQ (child.getExitCode(), 0) << child.getOutput();

    const auto& bytes = info.toBytes();
    EXPECT_EQ (child.getOutput().trim(), juce::String::toHexString (bytes.data(), (int) bytes.size(), 0));
    EXPECT_EQ (pedal.firmware().getCommands(), std::vector<std::vector<juce::uint8>> { command (wavInfoCode) });

    // A child stuck waiting on the pedal can be killed; the pedal forgets its open file.
    pedal.firmware().withholdNextReply (wavInfoCode);
    TestbedChildProcess stuck;
    ASSERT_TRUE (stuck.start (QUENDRIX_PEDAL_PROBE_PATH, { "9002", "0084", "60000" }));
    ASSERT_TRUE (waitFor ([&] { return pedal.countPendingUrbs() == 1; }));
    stuck.kill();
    EXPECT_TRUE (stuck.wasKilledBySignal());

    TestbedChildProcess again;
    ASSERT_TRUE (again.start (QUENDRIX_PEDAL_PROBE_PATH, { "9002", "0084", "10000" }));
    ASSERT_TRUE (again.waitForExit (10000));
    EXPECT_EQ (again.getExitCode(), 0) << again.getOutput();
}
