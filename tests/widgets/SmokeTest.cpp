#include <gtest/gtest.h>
#include <juce_myModule/juce_myModule.h>

TEST (Skeleton, ModuleBuilds)
{
    juce::KuvLibUSB_Device device;
    EXPECT_EQ (device.deviceHandle, nullptr);
}
