#pragma once

#include "MainComponentFixture.h"
#include "ScratchFolder.h"
#include "ShownAlerts.h"

#include "AudioConversion.h"

#include <thread>

/** A main component that has found one simulated pedal, with its hand-over timer stopped so
    that a test sees the workers' requests and texts as they leave them. The workers run on
    detached threads, as the user actions start them; the fixture waits for each to finish, and
    closes any alert it left, before the component goes.

    Every test gets its own temporary directory (the conversion's file lies there).
*/
class TransferFixture : public MainComponentFixture
{
protected:
    using Bytes = PedalFirmware::Bytes;

    void SetUp() override
    {
        ASSERT_TRUE (scratch.folder.isDirectory());
        pedal = &addPedal (pedalDescription);
        createComponent().stopTimer (MainComponent::timerId);

        // The device list's selection answers asynchronously with a second wave-information
        // query; it must not meet a worker at the pedal.
        drainMessages();
    }

    void TearDown() override
    {
        // A worker still running would outlive the component it writes to.
        EXPECT_TRUE (! workerStarted || waitForWorkerEnd()) << "a worker did not finish";

        ShownAlerts::dismissAll();
        MainComponentFixture::TearDown();
    }

    void startExport (const juce::File& target, int slot = 0)   { startWorker (&MainComponent::receiveWaveFile, target, slot); }
    void startImport (const juce::File& input, int slot = 0)    { startWorker (&MainComponent::sentWaveFile, input, slot); }

    /** Waits until the worker has cleared busy and asked for the controls back, its last step. */
    bool waitForWorkerEnd (int timeoutMs = 20000)
    {
        return waitFor ([this] { return ! access->busy().load()
                                        && access->uiRequestFlags().peekControlsRequest() == UiRequestFlags::enableControls; }, timeoutMs);
    }

    /** Waits for the worker's end, then checks the text it left, that no converted copy is left,
        and the alerts it showed.
    */
    void expectEnding (const juce::String& text, const juce::String& alertTitle = {}, const juce::String& alertMessage = {})
    {
        ASSERT_TRUE (waitForWorkerEnd());
        EXPECT_EQ (access->pendingProgressText(), text);
        EXPECT_FALSE (getTemporaryWavFile().exists());

        juce::String alerts;

        for (const auto& alert : ShownAlerts::dismissAll())
            alerts << alert.title << ": " << alert.message << "\n";

        EXPECT_EQ (alerts, alertTitle.isEmpty() ? juce::String() : alertTitle + ": " + alertMessage + "\n");
    }

    PedalFirmware& firmware() const                         { return pedal->firmware(); }

    /** The pedal's default wave information with one change. */
    void setWaveInfo (const std::function<void (PedalFirmware::WaveInfo&)>& change)
    {
        PedalFirmware::WaveInfo info;
        change (info);
        firmware().setWaveInfo (info);
    }

    juce::File scratchFile (const juce::String& name) const { return scratch.folder.getChildFile (name); }

    /** Noise: no period that a chunk size could hide a misplaced chunk behind. */
    static Bytes pattern (size_t size, int seed = 1)
    {
        Bytes bytes (size);
        juce::Random (seed).fillBitsRandomly (bytes.data(), size);
        return bytes;
    }

    /** A WAV file of noise at 44100 Hz, as the framework writes one. */
    juce::File writeWav (const juce::String& name, int frames, int channels = 2, int bits = 16) const
    {
        juce::AudioBuffer<float> noise (channels, frames);
        juce::Random random (frames);

        for (int i = 0; i < channels * frames; ++i)
            noise.setSample (i % channels, i / channels, random.nextFloat() - 0.5f);

        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (new juce::FileOutputStream (scratchFile (name)),
                                                                                                44100.0, (unsigned int) channels, bits, {}, 0));
        EXPECT_TRUE (writer != nullptr && writer->writeFromAudioSampleBuffer (noise, 0, frames));
        return scratchFile (name);
    }

    static Bytes bytesOf (const juce::File& file)
    {
        juce::MemoryBlock block;
        file.loadFileAsData (block);
        return { (const juce::uint8*) block.getData(), (const juce::uint8*) block.getData() + block.getSize() };
    }

    /** The pedal the fixture plugs in; a test fixture may describe another one. */
    UsbDeviceDescription pedalDescription;
    SimulatedPedal* pedal = nullptr;

private:
    void startWorker (void (MainComponent::*worker)(), const juce::File& path, int slot)
    {
        access->prepareTransfer (path.getFullPathName(), slot);
        access->uiRequestFlags().takeControlsRequest();
        workerStarted = true;
        std::thread (worker, component.get()).detach();
    }

    bool workerStarted = false;
    const ScratchFolder scratch;
};
