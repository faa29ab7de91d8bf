#pragma once

#include "MainComponentTestAccess.h"
#include "UsbFixture.h"

/** A main component on a testbed with simulated pedals. The pedals are added before the
    component, as they are plugged in before the program starts; the component goes first at
    the end, taking the USB manager with it, then the pedals, then the testbed.
*/
class MainComponentFixture : public UsbFixture
{
protected:
    void TearDown() override
    {
        access = nullptr;
        component = nullptr;
        EXPECT_EQ (juce::KuvLibUSBManager::shardManager, nullptr);
        UsbFixture::TearDown();
    }

    MainComponent& createComponent()
    {
        component = std::make_unique<MainComponent>();
        access = std::make_unique<MainComponentTestAccess> (*component);
        return *component;
    }

    /** Runs the message loop until every message posted before the call, and every one that
        those post in turn, has been delivered.
    */
    static void drainMessages()
    {
        for (int round = 0; round < 3; ++round)
        {
            auto delivered = std::make_shared<bool> (false);
            juce::MessageManager::callAsync ([delivered] { *delivered = true; });
            waitFor ([delivered] { return *delivered; });
        }
    }

    std::unique_ptr<MainComponent> component;
    std::unique_ptr<MainComponentTestAccess> access;
};
