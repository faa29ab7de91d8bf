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

TEST_F (EndToEnd, ExportWritesThePhraseOverAnOlderFileThroughTheSaveDialogAndCtrlCWaitsForTheWholeFile)
{
    const auto phrase = writeWav (scratch.getChildFile ("phrase.wav"), 44100.0, 2, 17.0);
    pedal->firmware().setPhrase (0, bytesOf (phrase));
    ASSERT_NO_FATAL_FAILURE (startProgram());

    // A whole window of its own; with a name typed its Save button is enabled. Return takes the
    // name in, the framework asks before it lets the older file go, and Return answers "Overwrite".
    const auto target = scratch.getChildFile ("exported.wav");
    ASSERT_TRUE (target.replaceWithText ("an older take"));
    click (mainWindow, exportButton);
    const auto dialog = waitForWindow (saveDialogTitle);
    chooseFile (dialog, target, 0);
    EXPECT_TRUE (waitForProgram ([&] { return saveDialogReads (capture (dialog)); })) << "the save dialog cannot be read";
    capture (dialog, "save-dialog-named");
    typeInto (dialog, { "key", "Return" });
    const auto question = waitForWindow ("File already exists");
    capture (question, "overwrite-question");
    typeInto (question, { "key", "Return" });
    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_TRUE (target.hasIdenticalContentTo (phrase));

    click (mainWindow, exportButton);
    chooseFile (waitForWindow (saveDialogTitle), scratch.getChildFile ("interrupted.wav"));
    interruptMidTransfer ([this] { return pedal->firmware().getSentChunkSizes().size(); });
    EXPECT_TRUE (scratch.getChildFile ("interrupted.wav").hasIdenticalContentTo (phrase));
}

TEST_F (EndToEnd, ImportReplacesThePhraseWithTheFileInThePedalsFormatAndCtrlCWaitsForTheWholePhrase)
{
    ASSERT_NO_FATAL_FAILURE (startProgram());

    // The import button, Replace in the question, then the open dialog.
    const auto chooseInput = [this] (const File& input)
    {
        click (mainWindow, importButton);
        const auto question = waitForWindow ("Export to device");
        const auto size = capture (question, "question").getBounds();
        click (question, { size.getWidth() / 2 + 35, size.getHeight() - 34 });
        chooseFile (waitForWindow ("Choose a wave file to load."), input);
    };

    const auto input = writeWav (scratch.getChildFile ("mono 22k.wav"), 22050.0, 1, 1.0);
    chooseInput (input);
    EXPECT_TRUE (waitForText (progressTextArea, "Import successful", "imported"));
    EXPECT_FALSE (getTemporaryWavFile().exists()) << "the program left its converted file behind";
    EXPECT_EQ (pedal->firmware().getPhrase (0), convertedForThePedal (input));

    const auto longInput = writeWav (scratch.getChildFile ("long.wav"), 44100.0, 2, 15.0);
    chooseInput (longInput);
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

    // Its name box holds the keyboard focus; the first Return may only take the typed folder in.
    click (mainWindow, exportButton);
    const auto dialog = waitForWindow (saveDialogTitle, 30000);
    const auto target = scratch.getChildFile ("through zenity.wav");
    typeInto (dialog, { "type", target.getFullPathName() });
    capture (dialog, "zenity-dialog-named");

    for (int presses = 0; presses < 2 && ! findWindows (saveDialogTitle).isEmpty(); ++presses)
    {
        typeInto (dialog, { "key", "Return" });
        waitForProgram ([&] { return findWindows (saveDialogTitle).isEmpty(); }, 2000);
    }

    EXPECT_TRUE (waitForText (progressTextArea, "Export successful", "exported"));
    EXPECT_TRUE (target.hasIdenticalContentTo (phrase));
}
