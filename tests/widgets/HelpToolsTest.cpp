#include <gtest/gtest.h>

#include <juce_myModule/juce_myModule.h>

// File sizes and the pedal's size limit, as the import's alerts show them.
TEST (HelpTools, ByteCountsReadInDecimalUnits)
{
    const std::pair<double, const char*> expected[] = {
        { 0.0, "0 B" }, { 999.0, "999 B" }, { 1000.0, "1.000 KB" }, { 10000.0, "10.000 KB" }, { 15000.0, "15.00 KB" },
        { 100000.0, "100.00 KB" }, { 150000.0, "150.0 KB" }, { 1048576.0, "1.049 MB" }, { 4294967295.0, "4.295 GB" },
    };

    for (auto& [bytes, text] : expected)
        EXPECT_EQ (juce::HelpTools::stringFromBytesWithUnit (bytes), text) << bytes;
}
