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

TEST_F (HandOverWithoutPedal, TheTimerShowsWhatTheWorkersHandOverAndTheirControlsRequestHasTheLastWord)
{
    // Nothing is disabled before the first tick; that tick finds no pedal and draws an empty bar.
    EXPECT_TRUE (access->allControlsEnabled());
    ASSERT_TRUE (waitFor ([this] { return access->statusLabel().getText() == "Pedal is not connected"; }));
    EXPECT_TRUE (access->noControlEnabled());
    EXPECT_EQ (access->progressMeter().getText(), "0.000000");

    // A worker that ends before the next tick: its enable request wins over a departure in that tick.
    access->beginTransfer();
    access->endTransfer();
    component->hotPlugEvent (juce::KuvLibUSBManager::deviceLeft);
    access->tick();
    EXPECT_TRUE (access->allControlsEnabled());

    // A worker on its own thread while the timer runs; its text goes last, so once that shows,
    // so has everything handed over before it.
    std::thread worker ([this]
    {
        access->beginTransfer();
        access->progressValue().store (55.5f);
        access->setProgressText ("Export successful");
    });

    EXPECT_TRUE (waitFor ([this] { return access->progressTextLabel().getText() == "Export successful"; }));
    worker.join();
    EXPECT_TRUE (access->noControlEnabled());
    EXPECT_TRUE (component->isBusy());
    EXPECT_EQ (access->progressMeter().getText(), "55.500000");

    // No new progress and an empty text change nothing.
    access->setProgressText ({});
    access->tick();
    EXPECT_EQ (access->progressMeter().getText(), "55.500000");
    EXPECT_EQ (access->progressTextLabel().getText(), "Export successful");
}
