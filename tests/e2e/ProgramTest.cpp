#include "ProgramFixture.h"

using namespace juce;

namespace
{
using EndToEnd = ProgramFixture;

std::vector<uint8> bytesOf (const File& file)
{
    MemoryBlock block;
    file.loadFileAsData (block);
    return { (const uint8*) block.getData(), (const uint8*) block.getData() + block.getSize() };
}

/** A sine as a 16-bit WAV file. */
File writeWav (const File& file, double sampleRate, int channels, double seconds)
{
    AudioBuffer<float> sound (channels, (int) (sampleRate * seconds));

    for (int channel = 0; channel < channels; ++channel)
        for (int i = 0; i < sound.getNumSamples(); ++i)
            sound.setSample (channel, i, 0.5f * std::sin ((float) i * 0.05f * (float) (channel + 1)));

    std::unique_ptr<AudioFormatWriter> (WavAudioFormat().createWriterFor (new FileOutputStream (file), sampleRate, (unsigned int) channels, 16, {}, 0))
        ->writeFromAudioSampleBuffer (sound, 0, sound.getNumSamples());
    return file;
}

/** What the program must have stored: the file in the pedal's format, converted here the same way. */
std::vector<uint8> convertedForThePedal (const File& input)
{
    const PedalFirmware::WaveInfo info;
    EXPECT_TRUE (convertToDeviceWav (input.getFullPathName(), info.sampleRateHz, info.sampleBits, info.channelCount, 1 << 29).succeeded());
    return bytesOf (getTemporaryWavFile());
}
}

TEST_F (EndToEnd, ExportWritesThePhraseThroughTheSaveDialogAndCtrlCWaitsForTheWholeFile)
{
    const auto phrase = writeWav (scratch.getChildFile ("phrase.wav"), 44100.0, 2, 17.0);
    pedal->firmware().setPhrase (0, bytesOf (phrase));
    ASSERT_NO_FATAL_FAILURE (startProgram());

    // Escape in the save dialog starts nothing.
    click (mainWindow, exportButton);
    pressKey (waitForWindow (saveDialogTitle), "Escape");
    EXPECT_TRUE (waitForWindowToGo (saveDialogTitle));

    // A whole window of its own; with a name typed its Save button is enabled.
    const auto target = scratch.getChildFile ("exported.wav");
    ASSERT_TRUE (target.replaceWithText ("an older take"));
    click (mainWindow, exportButton);
    const auto dialog = waitForWindow (saveDialogTitle);
    click (dialog, { 300, 436 });
    typeText (dialog, target.getFullPathName());
    EXPECT_TRUE (waitForProgram ([&] { return saveDialogReads (capture (dialog)); })) << "the save dialog cannot be read";
    EXPECT_EQ (capture (dialog, "save-dialog-named").getBounds(), Rectangle<int> (600, 500));
    EXPECT_TRUE (pedal->firmware().getSentChunkSizes().empty());

    // Return, the Save button's shortcut, takes the typed path in; the framework then asks before
    // it lets the file be replaced, and Return answers "Overwrite".
    pressKey (dialog, "Return");
    const auto question = waitForWindow ("File already exists");
    capture (question, "overwrite-question");
    pressKey (question, "Return");
    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_TRUE (target.hasIdenticalContentTo (phrase));

    // Ctrl-C in the middle of the next export.
    click (mainWindow, exportButton);
    chooseFile (waitForWindow (saveDialogTitle), scratch.getChildFile ("interrupted.wav"));
    interruptMidTransfer ([this] { return pedal->firmware().getSentChunkSizes().size(); });
    EXPECT_TRUE (scratch.getChildFile ("interrupted.wav").hasIdenticalContentTo (phrase));
}

TEST_F (EndToEnd, ImportReplacesThePhraseTellsAnUnplugAndNeitherCloseNorCtrlCCutsATransferOff)
{
    ASSERT_NO_FATAL_FAILURE (startProgram());

    // What a window manager reads: the window may be closed, never resized from its 621 x 385.
    EXPECT_EQ (capture (mainWindow).getBounds(), Rectangle<int> (621, 385));
    const auto actions = runTool ({ "xprop", "-id", String (mainWindow), "_NET_WM_ALLOWED_ACTIONS", "WM_PROTOCOLS" });
    EXPECT_TRUE (actions.contains ("_NET_WM_ACTION_CLOSE") && actions.contains ("WM_DELETE_WINDOW") && ! actions.contains ("_NET_WM_ACTION_RESIZE"))
        << actions;

    // A second start ends at once, without a window of its own and without going to the pedal.
    const auto commandsSeen = pedal->firmware().getCommands().size();
    TestbedChildProcess second;
    ASSERT_TRUE (second.start (QUENDRIX_BINARY_PATH, {}) && second.waitForExit (10000)) << "the second start keeps running";
    EXPECT_EQ (second.getExitCode(), 0) << second.getOutput();
    EXPECT_EQ (findWindows (programTitle), StringArray (String (mainWindow)));
    EXPECT_EQ (pedal->firmware().getCommands().size(), commandsSeen) << "the second start went to the pedal";

    // The question's Cancel, Escape on it, Escape in the open dialog: each starts nothing.
    answerImportQuestion (false);
    EXPECT_TRUE (waitForWindowToGo (questionTitle));
    click (mainWindow, importButton);
    pressKey (waitForWindow (questionTitle), "Escape");
    EXPECT_TRUE (waitForWindowToGo (questionTitle));
    // The question stays on screen behind the open dialog, and goes a moment after it; while
    // it is there, it takes the focus offered to the main window.
    pressKey (answerImportQuestion (true), "Escape");
    EXPECT_TRUE (waitForWindowToGo (questionTitle));
    EXPECT_TRUE (pedal->firmware().getReceivedChunkSizes().empty());

    const auto input = writeWav (scratch.getChildFile ("mono 22k.wav"), 22050.0, 1, 1.0);
    chooseFile (answerImportQuestion (true), input);
    EXPECT_TRUE (waitForText (progressTextArea, "Import successful", "imported"));
    EXPECT_FALSE (getTemporaryWavFile().exists()) << "the program left its converted file behind";
    EXPECT_EQ (pedal->firmware().getPhrase (0), convertedForThePedal (input));

    // A close request while the next import hangs on the pedal leaves the program running; the
    // unplug is told.
    pedal->firmware().failDataChunk (3, PedalFirmware::DataFault::timeOut);
    chooseFile (answerImportQuestion (true), writeWav (scratch.getChildFile ("stereo 44k.wav"), 44100.0, 2, 0.5));
    EXPECT_TRUE (waitForText (progressTextArea, "Importing to device", "importing"));
    desktop.requestClose (mainWindow);
    EXPECT_TRUE (waitUntilHandled());
    ASSERT_TRUE (program->isRunning()) << "the program quit in the middle of a transfer";
    pedal->unplug();
    const auto alert = waitForWindow ("Transfer Error");

    // Kept once the alert has painted its light ground: before, the screen shows what lies beneath.
    EXPECT_TRUE (waitForProgram ([&] { return capture (alert).getPixelAt (200, 4) == Colour (0xffe9e9e9); }));
    capture (alert, "transfer-error");
    pressKey (alert, "Return");
    EXPECT_TRUE (waitForText (progressTextArea, "Import Error", "import-error"));
    EXPECT_TRUE (waitForText (statusArea, "Pedal is not connected", "unplugged"));

    // Ctrl-C in the middle of an import once the pedal is back.
    pedal->plug();
    EXPECT_TRUE (waitForText (statusArea, "Pedal is connected", "plugged-again"));
    const auto longInput = writeWav (scratch.getChildFile ("long.wav"), 44100.0, 2, 15.0);
    chooseFile (answerImportQuestion (true), longInput);
    interruptMidTransfer ([this] { return pedal->firmware().getReceivedChunkSizes().size(); });
    EXPECT_EQ (pedal->firmware().getPhrase (0), convertedForThePedal (longInput));
}

TEST_F (EndToEnd, ExportWritesThePhraseIntoTheFileNamedInZenitysDialog)
{
    // Where zenity is installed, the program started without the tests' "which" that hides it.
    if (runTool ({ "sh", "-c", "command -v zenity" }).isEmpty())
        GTEST_SKIP() << "zenity is not installed";

    const auto testsPath = SystemStats::getEnvironmentVariable ("PATH", {});
    ::setenv ("PATH", testsPath.fromFirstOccurrenceOf (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR + String (":"), false, false).toRawUTF8(), 1);
    const auto phrase = writeWav (scratch.getChildFile ("phrase.wav"), 44100.0, 1, 1.0);
    pedal->firmware().setPhrase (0, bytesOf (phrase));
    ASSERT_NO_FATAL_FAILURE (startProgram());
    ::setenv ("PATH", testsPath.toRawUTF8(), 1);

    // Its name box holds the keyboard focus.
    click (mainWindow, exportButton);
    const auto dialog = waitForWindow (saveDialogTitle, 30000);
    const auto target = scratch.getChildFile ("through zenity.wav");
    typeText (dialog, target.getFullPathName());
    capture (dialog, "zenity-dialog-named");

    // As in the framework's own dialog, the first Return may only take the typed folder in.
    for (int presses = 0; presses < 2 && ! findWindows (saveDialogTitle).isEmpty(); ++presses)
    {
        runTool ({ "xdotool", "windowfocus", "--sync", String (dialog), "key", "Return" });
        waitForProgram ([&] { return findWindows (saveDialogTitle).isEmpty(); }, 2000);
    }

    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_TRUE (target.hasIdenticalContentTo (phrase));
}
