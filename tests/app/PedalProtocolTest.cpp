#include <gtest/gtest.h>

#include "PedalProtocol.h"

TEST (PedalProtocol, SizeLimitWrapsInThirtyTwoBitsAndErrorCodesShowAsUnsignedHex)
{
    WaveInfo info;
    info.maxLength = 0xffffffffu;
    info.sampleBits = 24;
    EXPECT_EQ (info.sizeLimit(), (juce::uint32) (0xffffffffu * 24u) >> 3);

    EXPECT_EQ (PedalProtocol::errorCodeText (42), "Error Code 0000002a");
}
