#include "PedalProtocol.h"

using namespace juce;

namespace
{
    constexpr uint8 commandMagic[4] = { 'C', 'M', 'D', 0 };

    void writeLittleEndian32 (uint8* destination, uint32 value) noexcept
    {
        for (int i = 0; i < 4; ++i)
            destination[i] = (uint8) (value >> (8 * i));
    }
}

//==============================================================================
WaveInfo WaveInfo::fromBytes (const uint8* bytes) noexcept
{
    WaveInfo info;
    info.reserved          = ByteOrder::littleEndianInt (bytes);
    info.slotCount         = ByteOrder::littleEndianInt (bytes + 4);
    info.sampleRateHz      = ByteOrder::littleEndianInt (bytes + 8);
    info.sampleBits        = ByteOrder::littleEndianShort (bytes + 12);
    info.channelCount      = ByteOrder::littleEndianShort (bytes + 14);
    info.maxLength         = ByteOrder::littleEndianInt (bytes + 16);
    info.transferChunkSize = ByteOrder::littleEndianInt (bytes + 20);
    return info;
}

void WaveInfo::toBytes (uint8* bytes) const noexcept
{
    writeLittleEndian32 (bytes, reserved);
    writeLittleEndian32 (bytes + 4, slotCount);
    writeLittleEndian32 (bytes + 8, sampleRateHz);
    bytes[12] = (uint8) sampleBits;
    bytes[13] = (uint8) (sampleBits >> 8);
    bytes[14] = (uint8) channelCount;
    bytes[15] = (uint8) (channelCount >> 8);
    writeLittleEndian32 (bytes + 16, maxLength);
    writeLittleEndian32 (bytes + 20, transferChunkSize);
}

uint32 WaveInfo::sizeLimit() const noexcept
{
    return (uint32) (maxLength * (uint32) sampleBits) >> 3;
}

//==============================================================================
PedalCommand PedalCommand::make (CommandCode code) noexcept
{
    PedalCommand command;
    std::copy (std::begin (commandMagic), std::end (commandMagic), command.bytes);
    writeLittleEndian32 (command.bytes + 4, (uint32) code);
    command.size = 8;
    return command;
}

PedalCommand PedalCommand::makePhrase (CommandCode code, uint32 slotIndex, uint32 argument) noexcept
{
    auto command = make (code);
    writeLittleEndian32 (command.bytes + 8, slotIndex);
    writeLittleEndian32 (command.bytes + 12, argument);
    command.size = 16;
    return command;
}

//==============================================================================
namespace PedalProtocol
{

Timeouts& timeouts() noexcept
{
    static Timeouts instance;
    return instance;
}

int bulkTransfer (libusb_device_handle* handle, uint8 endpoint, uint8* data, int length, unsigned int timeoutMs) noexcept
{
    if (handle == nullptr)
        return LIBUSB_ERROR_NO_DEVICE;

    int transferred = 0;
    const auto result = libusb_bulk_transfer (handle, endpoint, data, length, &transferred, timeoutMs);

    // The library's codes are negative; a failed transfer's partial count is dropped.
    return result == 0 ? transferred : (result < 0 ? result : -result);
}

int exchange (KuvLibUSB_Device& device, const PedalCommand& command, uint8* replyBuffer) noexcept
{
    const auto timeoutMs = timeouts().commandMs.load();

    // A command that did not go out shows as a failed reply, so its own result is not looked at.
    auto commandBytes = command;
    bulkTransfer (device.deviceHandle, device.outEndpoint, commandBytes.bytes, commandBytes.size, timeoutMs);

    return bulkTransfer (device.deviceHandle, device.inEndpoint, replyBuffer, replyBufferSize, timeoutMs);
}

void preferDefaultEndpoints (KuvLibUSB_Device& device) noexcept
{
    if (device.endpointAddresses.contains ((uint8) 0x01))
        device.outEndpoint = 0x01;

    if (device.endpointAddresses.contains ((uint8) 0x81))
        device.inEndpoint = 0x81;
}

String errorCodeText (int r)
{
    return String::formatted ("Error Code %08x", (unsigned int) (uint32) r);
}

OpenResult openRecord (KuvLibUSB_Device& device, const KuvLibUSB_Device::_USB_DeviceFeature& record)
{
    if (! device.open (record.vendorId, record.productId, record.busNumber, record.deviceAddress))
        return OpenResult::notOpened;

    return device.selectAlterate() ? OpenResult::ready : OpenResult::notSetUp;
}

InfoReply readDeviceAndWaveInfo (KuvLibUSB_Device& device, uint8* replyBuffer)
{
    InfoReply reply;
    std::fill (replyBuffer, replyBuffer + replyBufferSize, (uint8) 0);

    // The device information is only checked for being there; its bytes mean nothing to us.
    reply.result = exchange (device, PedalCommand::make (devInfo), replyBuffer);

    if (reply.result < 1)
        return reply;

    reply.result = exchange (device, PedalCommand::make (wavInfo), replyBuffer);

    if (reply.result != WaveInfo::wireSize)
        return reply;

    reply.valid = true;
    reply.waveInfo = WaveInfo::fromBytes (replyBuffer);
    return reply;
}

} // namespace PedalProtocol
