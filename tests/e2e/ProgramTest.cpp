#include "ProgramFixture.h"

#include "AudioConversion.h"

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

/** A sine as a mono 16-bit WAV file at 22.05 kHz, which the import converts to the pedal's format. */
File writeWav (const File& file, double seconds)
{
    AudioBuffer<float> sound (1, (int) (22050.0 * seconds));

    for (int i = 0; i < sound.getNumSamples(); ++i)
        sound.setSample (0, i, 0.5f * std::sin ((float) i * 0.05f));

    std::unique_ptr<AudioFormatWriter> (WavAudioFormat().createWriterFor (new FileOutputStream (file), 22050.0, 1, 16, {}, 0))
        ->writeFromAudioSampleBuffer (sound, 0, sound.getNumSamples());
    return file;
}
}

TEST_F (EndToEnd, ExportOverAnOlderFileGoesThroughTheSaveDialogAndCtrlCWaitsForTheWholeFile)
{
    const auto phrase = writeWav (scratch.getChildFile ("phrase.wav"), 60.0);
    pedal->firmware().setPhrase (0, bytesOf (phrase));
    ASSERT_NO_FATAL_FAILURE (startProgram());

    // Return takes the typed name in; the framework asks before it lets the older file go, and
    // Return answers "Overwrite".
    const auto target = scratch.getChildFile ("exported.wav");
    ASSERT_TRUE (target.replaceWithText ("an older take"));
    const auto dialog = chooseFile (true, target, false);
    EXPECT_TRUE (waitForProgram ([&] { return saveDialogReads (capture (dialog)); })) << "the save dialog cannot be read";
    capture (dialog, "save-dialog-named");
    actAt (dialog, { 1, 1 }, { "key", "Return" });
    const auto question = waitForWindow ("^File already exists$");
    capture (question, "overwrite-question");
    actAt (question, { 1, 1 }, { "key", "Return" });

    interruptMidTransfer ([this] { return pedal->firmware().getSentChunkSizes().size(); });
    EXPECT_TRUE (target.hasIdenticalContentTo (phrase));
}

TEST_F (EndToEnd, ImportGoesThroughTheQuestionAndTheOpenDialogAndCtrlCWaitsForTheWholePhrase)
{
    const auto input = writeWav (scratch.getChildFile ("take.wav"), 15.0);
    ASSERT_NO_FATAL_FAILURE (startProgram());
    chooseFile (false, input);

    interruptMidTransfer ([this] { return pedal->firmware().getReceivedChunkSizes().size(); });
    EXPECT_FALSE (getTemporaryWavFile().exists()) << "the program left its converted file behind";

    // The program's conversion, run here: the pedal's format is its default wave information.
    const PedalFirmware::WaveInfo info;
    ASSERT_TRUE (convertToDeviceWav (input.getFullPathName(), info.sampleRateHz, info.sampleBits, info.channelCount, 1 << 29).succeeded());
    EXPECT_EQ (pedal->firmware().getPhrase (0), bytesOf (getTemporaryWavFile()));
}

TEST_F (EndToEnd, ExportWritesThePhraseIntoTheFileNamedInZenitysDialog)
{
    // Where zenity is installed, the program started without the tests' "which" that hides it.
    if (runTool ({ "sh", "-c", "command -v zenity" }).isEmpty())
        GTEST_SKIP() << "zenity is not installed";

    const auto phrase = writeWav (scratch.getChildFile ("phrase.wav"), 1.0);
    pedal->firmware().setPhrase (0, bytesOf (phrase));
    const auto testsPath = SystemStats::getEnvironmentVariable ("PATH", {});
    ::setenv ("PATH", testsPath.fromFirstOccurrenceOf (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR + String (":"), false, false).toRawUTF8(), 1);
    startProgram();
    ::setenv ("PATH", testsPath.toRawUTF8(), 1);

    // Its name box holds the keyboard focus; the first Return may only take the typed folder in.
    actAt (mainWindow, { 211, 277 }, { "click", "1" });
    const auto dialog = waitForWindow ("^save as a Wave PCM");
    const auto target = scratch.getChildFile ("through zenity.wav");
    actAt (dialog, { 1, 1 }, { "type", target.getFullPathName() });
    actAt (dialog, { 1, 1 }, { "key", "Return" });

    if (! waitForProgram ([&] { return target.existsAsFile(); }, 2000))
        actAt (dialog, { 1, 1 }, { "key", "Return" });

    EXPECT_TRUE (waitForProgram ([&] { return target.hasIdenticalContentTo (phrase); }));
}
