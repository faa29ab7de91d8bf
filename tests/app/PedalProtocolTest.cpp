#include <gtest/gtest.h>

#include "PedalProtocol.h"
#include "UiRequestFlags.h"

TEST (WaveInfoRecord, FieldsAreReadLittleEndianAtTheirOffsets)
{
    const juce::uint8 bytes[24] = { 0xaa, 0xbb, 0xcc, 0xdd,   0x63, 0x00, 0x00, 0x00,
                                    0x44, 0xac, 0x00, 0x00,   0x10, 0x00, 0x02, 0x00,
                                    0x00, 0x00, 0x10, 0x00,   0x00, 0x10, 0x00, 0x00 };

    const auto info = WaveInfo::fromBytes (bytes);

    EXPECT_EQ (info.reserved, 0xddccbbaau);
    EXPECT_EQ (info.slotCount, 99u);
    EXPECT_EQ (info.sampleRateHz, 44100u);
    EXPECT_EQ (info.sampleBits, 16u);
    EXPECT_EQ (info.channelCount, 2u);
    EXPECT_EQ (info.maxLength, 0x100000u);
    EXPECT_EQ (info.transferChunkSize, 4096u);

    juce::uint8 written[24] {};
    info.toBytes (written);
    EXPECT_EQ (0, memcmp (bytes, written, sizeof (bytes)));
}

TEST (WaveInfoRecord, SizeLimitWrapsInThirtyTwoBitsBeforeTheShift)
{
    WaveInfo info;
    info.sampleBits = 16;

    info.maxLength = 1000;
    EXPECT_EQ (info.sizeLimit(), 2000u);

    info.maxLength = 268435456u;   // x 16 is exactly 2^32
    EXPECT_EQ (info.sizeLimit(), 0u);

    info.maxLength = 0xffffffffu;
    info.sampleBits = 24;
    EXPECT_EQ (info.sizeLimit(), (juce::uint32) (0xffffffffu * 24u) >> 3);
}

TEST (PedalProtocolText, ErrorCodeShowsTheThirtyTwoBitValueInLowerCaseHex)
{
    EXPECT_EQ (PedalProtocol::errorCodeText (LIBUSB_ERROR_TIMEOUT), "Error Code fffffff9");
    EXPECT_EQ (PedalProtocol::errorCodeText (LIBUSB_ERROR_NO_DEVICE), "Error Code fffffffc");
    EXPECT_EQ (PedalProtocol::errorCodeText (42), "Error Code 0000002a");
}

TEST (RequestFlags, ControlsRequestIsReplacedAndTakenWithoutTouchingTheHotPlugBits)
{
    UiRequestFlags flags;
    flags.set (UiRequestFlags::pendingArrival);

    flags.requestControls (UiRequestFlags::disableControls);
    flags.requestControls (UiRequestFlags::enableControls);

    EXPECT_EQ (flags.takeControlsRequest(), UiRequestFlags::enableControls);
    EXPECT_EQ (flags.takeControlsRequest(), UiRequestFlags::noRequest);
    EXPECT_TRUE (flags.testAndClear (UiRequestFlags::pendingDeparture));
    EXPECT_TRUE (flags.testAndClear (UiRequestFlags::pendingArrival));
    EXPECT_EQ (flags.getRawBits(), 0);
}
