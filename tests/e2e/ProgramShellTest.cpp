#include "ProgramFixture.h"

namespace
{
using ProgramShell = ProgramFixture;

constexpr auto connected = "Pedal is connected";
constexpr auto notConnected = "Pedal is not connected";
}

TEST_F (ProgramShell, OneFixedWindowFollowsThePedalAndASecondStartEndsAtOnce)
{
    startProgram();
    ASSERT_FALSE (HasFatalFailure());

    // What a window manager reads: the window may be closed, never resized from its 621 x 385.
    EXPECT_EQ (getGeometry (mainWindow).withZeroOrigin(), juce::Rectangle<int> (621, 385));
    const auto actions = runTool ({ "xprop", "-id", juce::String (mainWindow), "_NET_WM_ALLOWED_ACTIONS", "WM_PROTOCOLS" });
    EXPECT_TRUE (actions.contains ("_NET_WM_ACTION_CLOSE") && actions.contains ("WM_DELETE_WINDOW")) << actions;
    EXPECT_FALSE (actions.contains ("_NET_WM_ACTION_RESIZE")) << actions;
    EXPECT_TRUE (waitForText (statusArea, notConnected, "no-pedal"));

    pedal->plug();
    EXPECT_TRUE (waitForText (statusArea, connected, "pedal-plugged"));
    const auto commandsSeen = pedal->firmware().getCommands().size();

    TestbedChildProcess second;
    ASSERT_TRUE (second.start (QUENDRIX_BINARY_PATH, {}));
    ASSERT_TRUE (second.waitForExit (10000)) << "the second start keeps running";
    EXPECT_EQ (second.getExitCode(), 0) << second.getOutput();
    EXPECT_EQ (findWindows (programTitle), std::vector<unsigned long> { mainWindow });
    EXPECT_EQ (pedal->firmware().getCommands().size(), commandsSeen) << "the second start went to the pedal";

    pedal->unplug();
    EXPECT_TRUE (waitForText (statusArea, notConnected, "pedal-unplugged"));

    EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();
    EXPECT_TRUE (findWindows (programTitle).empty());
}
