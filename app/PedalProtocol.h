#pragma once

#include <juce_myModule/juce_myModule.h>
#include <atomic>

/** The pedal's command codes. */
enum CommandCode : juce::uint32
{
    devInfo     = 0,
    wavInfo     = 1,
    sentWavData = 2,
    readWavData = 3
};

/** The pedal's 24-byte description of its phrase storage, little-endian on the wire. */
struct WaveInfo
{
    juce::uint32 reserved = 0;
    juce::uint32 slotCount = 0;
    juce::uint32 sampleRateHz = 0;
    juce::uint16 sampleBits = 0;
    juce::uint16 channelCount = 0;
    juce::uint32 maxLength = 0;
    juce::uint32 transferChunkSize = 0;

    static constexpr int wireSize = 24;

    static WaveInfo fromBytes (const juce::uint8* bytes) noexcept;
    void toBytes (juce::uint8* bytes) const noexcept;

    /** (maxLength x sampleBits) >> 3 in unsigned 32 bits: the product wraps before the shift. */
    juce::uint32 sizeLimit() const noexcept;
};

/** One command block: "CMD", NUL, the code, and for the phrase commands the slot and argument. */
struct PedalCommand
{
    static PedalCommand make (CommandCode code) noexcept;
    static PedalCommand makePhrase (CommandCode code, juce::uint32 slotIndex, juce::uint32 argument) noexcept;

    juce::uint8 bytes[16] {};
    int size = 0;
};

namespace PedalProtocol
{
    constexpr juce::uint16 pedalVendorId  = 0x9002;
    constexpr juce::uint16 pedalProductId = 0x0084;
    constexpr int replyBufferSize = 4096;

    /** The protocol's time-outs. The program always uses the defaults; only tests shorten them. */
    struct Timeouts
    {
        std::atomic<unsigned int> commandMs { 1000 };
        std::atomic<unsigned int> exportChunkMs { 1000 };
        std::atomic<unsigned int> importChunkMs { 60000 };
    };

    Timeouts& timeouts() noexcept;

    /** One bulk transfer reduced to r: the bytes moved, or the library's own negative error code. */
    int bulkTransfer (libusb_device_handle* handle, juce::uint8 endpoint, juce::uint8* data, int length,
                      unsigned int timeoutMs) noexcept;

    /** Sends a command on the OUT endpoint (its own result is not looked at) and reads the
        reply into a buffer of replyBufferSize bytes; returns the reply's r.
    */
    int exchange (juce::KuvLibUSB_Device& device, const PedalCommand& command, juce::uint8* replyBuffer) noexcept;

    /** Takes 0x01 and 0x81 as the OUT and IN endpoints when interface 0 lists them. */
    void preferDefaultEndpoints (juce::KuvLibUSB_Device& device) noexcept;

    /** "Error Code %08x" of r's 32-bit value. */
    juce::String errorCodeText (int r);

    enum class OpenResult
    {
        ready,      // open, interface 0 claimed, endpoints chosen
        notOpened,  // no such device at the record's place, or it cannot be opened
        notSetUp    // opened, but the configuration or interface could not be set up
    };

    /** Opens the pedal of a scanned record on the manager's context and sets up interface 0. */
    OpenResult openRecord (juce::KuvLibUSB_Device& device, const juce::KuvLibUSB_Device::_USB_DeviceFeature& record);

    /** The answer to the device-information and wave-information commands. */
    struct InfoReply
    {
        bool valid = false;  // a device-information reply of at least one byte, then exactly 24 bytes
        int result = 0;      // r of the last reply read: the failing one when not valid
        WaveInfo waveInfo;   // meaningful only when valid
    };

    /** Zeroes the reply buffer (replyBufferSize bytes), then asks for the device information and
        the wave information, both replies landing in that buffer.
    */
    InfoReply readDeviceAndWaveInfo (juce::KuvLibUSB_Device& device, juce::uint8* replyBuffer);
}
