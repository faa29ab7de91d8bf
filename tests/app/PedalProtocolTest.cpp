#include <gtest/gtest.h>

#include "PedalProtocol.h"

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
