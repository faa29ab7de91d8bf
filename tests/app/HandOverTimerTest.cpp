#include <gtest/gtest.h>

#include "helpers/MainComponentFixture.h"

#include <thread>

namespace
{
struct HandOverWithoutPedal : public MainComponentFixture
{
    void SetUp() override   { createComponent(); }
};
}

TEST_F (HandOverWithoutPedal, FirstTickShowsNotConnectedDisablesTheControlsAndDrawsAnEmptyBar)
{
    // Nothing is disabled before the timer has run.
    EXPECT_TRUE (access->allControlsEnabled());

    ASSERT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is not connected"; }));
    EXPECT_TRUE (access->noControlEnabled());
    EXPECT_EQ (access->progressMeter().getText(), "0.000000");
    EXPECT_EQ (access->deviceCombo().getNumItems(), 0);
    EXPECT_EQ (access->uiRequestFlags().getRawBits(), 0);
}

TEST_F (HandOverWithoutPedal, MeterAndLabelShowTheNewestValuesAndKeepThemUntilNewOnes)
{
    access->tick();
    access->progressValue().store (40.0f);
    access->progressValue().store (55.5f);
    access->setProgressText ("Exporting");

    // A worker hands its text over while the timer may be taking the one before.
    std::thread worker ([this] { access->setProgressText ("Export successful"); });
    access->tick();
    worker.join();
    access->tick();
    EXPECT_EQ (access->progressMeter().getText(), "55.500000");
    EXPECT_EQ (access->progressTextLabel().getText(), "Export successful");

    // The tick left -2 ("nothing new") behind, and an empty text means nothing new too.
    EXPECT_FLOAT_EQ (access->progressValue().load(), -2.0f);
    access->setProgressText ({});
    access->tick();
    drainMessages();
    EXPECT_EQ (access->progressMeter().getText(), "55.500000");
    EXPECT_EQ (access->progressTextLabel().getText(), "Export successful");
}

TEST_F (HandOverWithoutPedal, ControlsFollowAWorkersRequestsAtTheNextTick)
{
    access->tick();
    ASSERT_TRUE (access->noControlEnabled());

    // A worker that ends before the next tick: only its enable request arrives, and it has the
    // last word over the departure handled in the same tick.
    access->beginTransfer();
    access->endTransfer();
    EXPECT_FALSE (access->busy().load());
    component->hotPlugEvent (juce::KuvLibUSBManager::deviceLeft);
    access->tick();
    EXPECT_TRUE (access->allControlsEnabled());
    EXPECT_EQ (access->statusLabel().getText(), "Pedal is not connected");

    access->beginTransfer();
    EXPECT_TRUE (access->busy().load());
    EXPECT_TRUE (access->allControlsEnabled());
    access->tick();
    EXPECT_TRUE (access->noControlEnabled());
}

TEST_F (HandOverWithoutPedal, HotPlugEventOnlySetsItsBit)
{
    access->tick();
    access->beginTransfer();
    const auto before = access->uiRequestFlags().getRawBits();

    std::thread ([this] { component->hotPlugEvent (juce::KuvLibUSBManager::deviceArrived); }).join();
    EXPECT_EQ (access->uiRequestFlags().getRawBits(), before | UiRequestFlags::pendingArrival);

    component->hotPlugEvent (juce::KuvLibUSBManager::deviceLeft);
    EXPECT_EQ (access->uiRequestFlags().getRawBits(), before | UiRequestFlags::pendingArrival | UiRequestFlags::pendingDeparture);
}
