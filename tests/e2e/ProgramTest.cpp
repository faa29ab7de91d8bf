#include "ProgramFixture.h"

using EndToEnd = ProgramFixture;

TEST_F (EndToEnd, ExportOverAnOlderFileGoesThroughTheSaveDialogAndCtrlCWaitsForTheWholeFile)
{
    ASSERT_NO_FATAL_FAILURE (startProgram());

    // Return takes the typed name in; the framework asks before it lets the older file go, and
    // Return answers "Overwrite".
    const auto target = scratch.getChildFile ("exported.wav");
    ASSERT_TRUE (target.replaceWithText ("an older take"));
    const auto dialog = chooseFile (true, target, {});
    EXPECT_TRUE (waitForProgram ([&] { return saveDialogReads (capture (dialog, "save-dialog")); })) << "the save dialog cannot be read";
    actAt (dialog, { 1, 1 }, { "key", "Return" });
    const auto question = waitForWindow ("^File already exists$");
    capture (question, "overwrite-question");
    actAt (question, { 1, 1 }, { "key", "Return" });

    interruptMidTransfer ([this] { return pedal->firmware().getSentChunkSizes().size(); });
    EXPECT_TRUE (target.hasIdenticalContentTo (phrase));
}

TEST_F (EndToEnd, ImportGoesThroughTheQuestionAndTheOpenDialogAndCtrlCWaitsForTheWholePhrase)
{
    ASSERT_NO_FATAL_FAILURE (startProgram());
    chooseFile (false, phrase);
    interruptMidTransfer ([this] { return pedal->firmware().getReceivedChunkSizes().size(); });
    EXPECT_FALSE (getTemporaryWavFile().exists()) << "the program left its converted file behind";

    // The program's conversion, run here: the pedal's format is its default wave information.
    const PedalFirmware::WaveInfo info;
    ASSERT_TRUE (convertToDeviceWav (phrase.getFullPathName(), info.sampleRateHz, info.sampleBits, info.channelCount, 1 << 29).succeeded());
    juce::MemoryBlock converted;
    ASSERT_TRUE (getTemporaryWavFile().loadFileAsData (converted));
    EXPECT_EQ (pedal->firmware().getPhrase (0), PedalFirmware::Bytes (converted.begin(), converted.end()));
}

TEST_F (EndToEnd, ExportWritesThePhraseIntoTheFileNamedInZenitysDialog)
{
    // Where zenity is installed, the program started without the tests' "which" that hides it.
    if (runTool ({ "sh", "-c", "command -v zenity" }).isEmpty())
        GTEST_SKIP() << "zenity is not installed";

    const auto testsPath = juce::SystemStats::getEnvironmentVariable ("PATH", {});
    ::setenv ("PATH", testsPath.fromFirstOccurrenceOf (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR ":", false, false).toRawUTF8(), 1);
    startProgram();
    ::setenv ("PATH", testsPath.toRawUTF8(), 1);

    // Its name box holds the keyboard focus.
    actAt (mainWindow, { 211, 277 }, { "click", "1" });
    const auto dialog = waitForWindow ("^save as a Wave PCM");
    const auto target = scratch.getChildFile ("through zenity.wav");
    runTool ({ "xdotool", "windowfocus", "--sync", juce::String (dialog), "type", "--delay", "1", target.getFullPathName() });

    // As in the framework's own dialog, the first Return may only take the typed folder in.
    for (int presses = 0; presses < 2 && ! target.exists(); ++presses)
    {
        runTool ({ "xdotool", "windowfocus", "--sync", juce::String (dialog), "key", "Return" });
        waitForProgram ([&] { return target.exists(); }, 3000);
    }

    EXPECT_TRUE (waitForProgram ([&] { return target.hasIdenticalContentTo (phrase); }));
}
