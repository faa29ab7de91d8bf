#include "ProgramFixture.h"

#include <algorithm>

namespace
{
using ProgramShell = ProgramFixture;

constexpr auto connected = "Pedal is connected";
constexpr auto notConnected = "Pedal is not connected";

bool contains (const std::vector<std::string>& names, const std::string& name)
{
    return std::find (names.begin(), names.end(), name) != names.end();
}
}

TEST_F (ProgramShell, OneFixedWindowFollowsThePedalAndClosesWhenIdle)
{
    startProgram();
    ASSERT_FALSE (HasFatalFailure());

    const auto geometry = getGeometry (mainWindow);
    EXPECT_EQ (geometry.getWidth(), 621);
    EXPECT_EQ (geometry.getHeight(), 385);
    EXPECT_NEAR (geometry.getCentreX(), getScreenSize().x / 2, 1);
    EXPECT_NEAR (geometry.getCentreY(), getScreenSize().y / 2, 1);

    // What a window manager reads: the window may be moved, minimised and closed, never resized.
    const auto motifHints = desktop->readLongs (mainWindow, "_MOTIF_WM_HINTS");
    ASSERT_GE (motifHints.size(), 2u);
    constexpr long resizeFunction = 2, closeFunction = 32;
    EXPECT_EQ (motifHints[1] & resizeFunction, 0);
    EXPECT_NE (motifHints[1] & closeFunction, 0);

    const auto actions = desktop->readAtomNames (mainWindow, "_NET_WM_ALLOWED_ACTIONS");
    EXPECT_FALSE (contains (actions, "_NET_WM_ACTION_RESIZE"));
    EXPECT_TRUE (contains (actions, "_NET_WM_ACTION_CLOSE"));
    EXPECT_TRUE (contains (desktop->readAtomNames (mainWindow, "WM_PROTOCOLS"), "WM_DELETE_WINDOW"));

    EXPECT_TRUE (waitForText (statusArea, notConnected, "no-pedal"));

    pedal().plug();
    EXPECT_TRUE (waitForText (statusArea, connected, "pedal-plugged"));

    pedal().unplug();
    EXPECT_TRUE (waitForText (statusArea, notConnected, "pedal-unplugged"));

    EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();
    EXPECT_TRUE (findWindows (programTitle).empty());
}

TEST_F (ProgramShell, ASecondStartEndsAtOnceAndOpensNoWindow)
{
    pedal().plug();
    startProgram();
    ASSERT_FALSE (HasFatalFailure());
    EXPECT_TRUE (waitForText (statusArea, connected, "first-start"));
    const auto commandsSeen = pedal().firmware().getCommands().size();

    TestbedChildProcess second;
    ASSERT_TRUE (second.start (QUENDRIX_BINARY_PATH, {}));
    ASSERT_TRUE (second.waitForExit (10000)) << "the second start keeps running";
    EXPECT_EQ (second.getExitCode(), 0) << second.getOutput();

    EXPECT_EQ (findWindows (programTitle), std::vector<unsigned long> { mainWindow });
    EXPECT_EQ (pedal().firmware().getCommands().size(), commandsSeen) << "the second start went to the pedal";
    EXPECT_TRUE (program->isRunning());
    EXPECT_TRUE (waitForText (statusArea, connected, "after-second-start"));
}
