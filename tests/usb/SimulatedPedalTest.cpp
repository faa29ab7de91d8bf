#include "pedal/TestbedChildProcess.h"
#include "helpers/UsbFixture.h"

// The suites above the USB layer use the pedal through the program; these pin down what they
// cannot see: the bytes of its answers, and a program under test in another process.
using SimulatedPedalTest = UsbFixture;
using Bytes = std::vector<juce::uint8>;

namespace
{
Bytes command (juce::uint8 code, int length = 8)
{
    Bytes bytes { 'C', 'M', 'D', 0, code, 0, 0, 0 };
    bytes.resize ((size_t) length);
    return bytes;
}
}

TEST_F (SimulatedPedalTest, AnswersCommandsWithTheBytesOnTheWire)
{
    auto& pedal = addPedal();
    pedal.firmware().setDeviceInfo ({ 0x42 });
    pedal.firmware().setWaveInfo ({ 7, 0, 48000, 12, 1, 0x10000000, 0 });
    pedal.firmware().setPhrase (3, Bytes (10000));
    createManager();

    juce::KuvLibUSB_Device device;
    ASSERT_TRUE (openAndSetUp (device));

    const auto ask = [&] (Bytes out, unsigned int timeoutMs = 1000)
    {
        int transferred = 0;
        EXPECT_EQ (libusb_bulk_transfer (device.deviceHandle, device.outEndpoint, out.data(), (int) out.size(), &transferred, 1000), 0);
        Bytes in (4096);
        const auto r = libusb_bulk_transfer (device.deviceHandle, device.inEndpoint, in.data(), (int) in.size(), &transferred, timeoutMs);
        in.resize (r == 0 ? (size_t) transferred : 0);
        return in;
    };

    EXPECT_EQ (ask (command (0)), Bytes { 0x42 });
    EXPECT_EQ (ask (command (1)), (Bytes { 7, 0, 0, 0,  0, 0, 0, 0,  0x80, 0xbb, 0, 0,  12, 0,  1, 0,
                                           0, 0, 0, 0x10,  0, 0, 0, 0 }));
    EXPECT_EQ (ask ({ 'C', 'M', 'D', 0, 3, 0, 0, 0,  3, 0, 0, 0,  0, 0, 0, 0 }),
               (Bytes { 0, 0, 0, 0, 0x10, 0x27, 0, 0 }));

    // A command of the wrong length is not one: it goes unanswered.
    EXPECT_TRUE (ask (command (0, 16), 100).empty());
}

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

    const auto bytes = info.toBytes();
    EXPECT_EQ (child.getOutput().trim(), juce::String::toHexString (bytes.data(), (int) bytes.size(), 0));
    EXPECT_EQ (pedal.firmware().getCommands(), std::vector<Bytes> { command (1) });

    // A child stuck waiting on the pedal can be killed; the pedal forgets its open file.
    pedal.firmware().withholdNextReply (1);
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
