#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "XDesktop.h"
#include "pedal/SimulatedPedal.h"
#include "pedal/TestbedChildProcess.h"
#include "pedal/UsbTestbed.h"

/** The real program, started by the test as its user would start it, on the X display the
    test runs under, with the test's simulated pedal as its USB world. The test sees what a
    user sees, windows and their pixels, and acts as a user does, with the mouse and the
    keyboard; each step it looks at is kept as a PNG in the test's artifact folder.
*/
class ProgramFixture : public ::testing::Test
{
public:
    static constexpr auto programTitle = "Quendrix v1.1.0";

    /** The status and progress texts, in the main window's own pixels. */
    static const juce::Rectangle<int> statusArea, progressTextArea;

    /** The two large buttons, in the main window's own pixels. */
    static const juce::Rectangle<int> exportButtonArea, importButtonArea;

protected:
    void SetUp() override;
    void TearDown() override;

    //==============================================================================
    /** A pedal at the default place on the bus, not plugged in yet. */
    SimulatedPedal& pedal();

    /** Starts the program and waits for its main window, which it stores in mainWindow. */
    void startProgram (const juce::StringPairArray& extraEnvironment = {});

    /** Sends the close request and waits for the program to end; true when it ended with 0. */
    bool closeProgram();

    /** Sends SIGINT to the program, as Ctrl-C in its terminal does. */
    void interruptProgram();

    //==============================================================================
    /** Waits for a condition that the program brings about, nudging it now and then (see
        XDesktop::nudge), so that no event the test sent lies unseen in its queue.
    */
    bool waitForProgram (const std::function<bool()>& condition, int timeoutMs = 10000);

    /** Waits until the program has handled every message sent to its window so far. */
    bool waitUntilHandled (unsigned long window);

    /** Visible top-level windows whose title is exactly this text. */
    std::vector<unsigned long> findWindows (const juce::String& title);

    /** Waits for one visible window with this title; 0 when none came in time. */
    unsigned long waitForWindow (const juce::String& title, int timeoutMs = 10000);

    /** Waits until no visible window has this title, and then until the program has handled
        every event sent to it before: the next click meets it settled, not in the middle of
        tearing the dialog down.
    */
    bool waitForWindowToGo (const juce::String& title, int timeoutMs = 10000);

    /** The window's position on the screen and its size. */
    juce::Rectangle<int> getGeometry (unsigned long window);

    juce::Point<int> getScreenSize();

    /** Moves the mouse to a position in the window's own pixels and clicks the left button. */
    void click (unsigned long window, juce::Point<int> position);

    /** Points at the window and presses a key there, named as xdotool names keys ("Escape"). */
    void pressKey (unsigned long window, const juce::String& key);

    /** Gives the window the keyboard focus, as a window manager would, types the text there and
        then presses the key, if one is given.
    */
    void typeText (unsigned long window, const juce::String& text, const juce::String& key = {});

    /** Clicks a file dialog's filename box (where it lies in the window), types the path there
        and confirms it with Return.
    */
    void chooseFile (unsigned long window, juce::Point<int> filenameBox, const juce::File& file);

    //==============================================================================
    /** The window's pixels now. */
    juce::Image capture (unsigned long window);

    /** Captures the window and keeps the picture as the next step's PNG. */
    juce::Image keepStep (unsigned long window, const juce::String& step);
    juce::Image keep (const juce::Image& image, const juce::String& step);

    /** Draws a text as it would show in the area, on a transparent ground the size of the area. */
    using TextDrawing = std::function<juce::Image (const juce::String& text, juce::Rectangle<int> area)>;

    /** Which of the texts the area shows, drawn as the program draws its large labels unless
        another drawing is given; empty when it shows none of them.
    */
    juce::String readText (const juce::Image& window, juce::Rectangle<int> area, const juce::StringArray& candidates,
                           const TextDrawing& drawing = {});

    /** Waits until the main window shows this text in the area, then keeps that view as a step. */
    bool waitForText (juce::Rectangle<int> area, const juce::String& text, const juce::String& step, int timeoutMs = 10000);

    //==============================================================================
    std::unique_ptr<UsbTestbed> testbed;
    std::unique_ptr<SimulatedPedal> simulatedPedal;
    std::unique_ptr<TestbedChildProcess> program;
    std::unique_ptr<XDesktop> desktop;
    unsigned long mainWindow = 0;

    juce::File scratch, artifacts;

private:
    juce::String runTool (const juce::StringArray& command);

    /** The text as the program's large labels draw it (its embedded font at height 28,
        centred), on a transparent ground the size of the area.
    */
    juce::Image renderLabel (const juce::String& text, juce::Rectangle<int> area);

    juce::Typeface::Ptr labelTypeface;

    juce::String previousTmpDir;
    int stepNumber = 0;
};
