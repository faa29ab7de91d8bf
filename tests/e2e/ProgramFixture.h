#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "XDesktop.h"
#include "pedal/SimulatedPedal.h"
#include "pedal/TestbedChildProcess.h"
#include "pedal/UsbTestbed.h"

/** The real program, started by the test as its user would start it, on the X display the
    test runs under, with the test's simulated pedal (not plugged in yet) as its USB world. The
    test sees what a user sees, windows and their pixels, and acts as a user does, with the
    mouse and the keyboard; the steps it looks at are kept as PNGs in its artifact folder.
*/
class ProgramFixture : public ::testing::Test
{
public:
    static constexpr auto programTitle = "Quendrix v1.1.0";

    /** In the main window's own pixels. */
    static const juce::Rectangle<int> statusArea, progressTextArea, exportButtonArea, importButtonArea;

protected:
    void SetUp() override;
    void TearDown() override;

    /** Starts the program and waits for its main window, which it stores in mainWindow. */
    void startProgram();

    /** Sends the close request and waits for the program to end; true when it ended with 0. */
    bool closeProgram();

    /** Sends SIGINT to the program, as Ctrl-C in its terminal does. */
    void interruptProgram();

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
        every event sent to it before: the next click meets it settled.
    */
    bool waitForWindowToGo (const juce::String& title, int timeoutMs = 10000);

    /** Runs a command-line tool to its end and gives back what it printed. */
    juce::String runTool (const juce::StringArray& command);

    /** The window's position on the screen and its size. */
    juce::Rectangle<int> getGeometry (unsigned long window);

    /** Moves the mouse to a position in the window's own pixels and clicks the left button. */
    void click (unsigned long window, juce::Point<int> position);

    /** Points at the window and presses a key there, named as xdotool names keys ("Escape"). */
    void pressKey (unsigned long window, const juce::String& key);

    /** Gives the window the keyboard focus, as a window manager would, types the text there and
        then presses the key, if one is given.
    */
    void typeText (unsigned long window, const juce::String& text, const juce::String& key = {});

    /** Types the path into the framework's file dialog's filename box and confirms it. */
    void chooseFile (unsigned long dialog, const juce::File& file);

    /** The window's pixels now, kept as the next step's PNG when the step is named. */
    juce::Image capture (unsigned long window, const juce::String& step = {});
    juce::Image keep (const juce::Image& image, const juce::String& step);

    /** Whether the area of the window shows the text that the drawing puts there (in the
        window's pixels, in any colour): dark ink where the drawing has it, within anti-aliasing.
    */
    static bool shows (const juce::Image& window, juce::Rectangle<int> area, const std::function<void (juce::Graphics&)>& drawing);

    /** Waits until the main window shows the text in the area as its large labels draw it,
        then keeps that view as a step.
    */
    bool waitForText (juce::Rectangle<int> area, const juce::String& text, const juce::String& step, int timeoutMs = 10000);

    //==============================================================================
    std::unique_ptr<XDesktop> desktop;
    std::unique_ptr<UsbTestbed> testbed;
    std::unique_ptr<SimulatedPedal> pedal;
    std::unique_ptr<TestbedChildProcess> program;
    unsigned long mainWindow = 0;

    juce::File scratch, artifacts;

private:
    juce::Typeface::Ptr labelTypeface;
    juce::String previousTmpDir;
    int stepNumber = 0;
};
