#include <gtest/gtest.h>

#include <juce_myModule/juce_myModule.h>

#include <limits>

TEST (HelpTools, ByteCountsReadInDecimalUnits)
{
    const auto inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();

    const std::pair<double, const char*> expected[] = {
        { 0.0, "0 B" }, { 999.0, "999 B" }, { 999.6, "1000 B" }, { -5.0, "-5 B" },
        { 1000.0, "1.000 KB" }, { 1536.0, "1.536 KB" }, { 10000.0, "10.000 KB" }, { 15000.0, "15.00 KB" },
        { 100000.0, "100.00 KB" }, { 150000.0, "150.0 KB" }, { 999999.99, "1000.0 KB" },
        { 1048576.0, "1.049 MB" },  // steps of 1000, not 1024
        { 3.2e9, "3.200 GB" }, { 7.0e12, "7.000 TB" }, { 4.5e15, "4.500 PB" }, { 2.0e18, "2.000 EB" },
        { 2.0e21, "2.000 ZB" }, { 2.0e24, "2.000 YB" }, { 2.5e29, "250.0 BB" },
        { 5.0e30, "too large" }, { 1.0e300, "too large" }, { inf, "too large" }, { nan, "too large" },
    };

    for (auto& [bytes, text] : expected)
        EXPECT_EQ (juce::HelpTools::stringFromBytesWithUnit (bytes), text) << bytes;
}
