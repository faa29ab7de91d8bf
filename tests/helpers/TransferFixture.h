#pragma once

#include "MainComponentFixture.h"
#include "ShortTimeouts.h"
#include "ShownAlerts.h"

#include <optional>
#include <string>

/** A main component that has found one simulated pedal, with its hand-over timer stopped so
    that a test sees the workers' requests and texts as they leave them. The workers run on
    detached threads, as the user actions start them; the fixture waits for each to finish, and
    closes any alert it left, before the component goes.

    Every test gets its own temporary directory (the conversion's file lies there) and short
    protocol time-outs, both restored afterwards.
*/
class TransferFixture : public MainComponentFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    /** The pedal the fixture plugs in; a test fixture may describe another one. */
    virtual UsbDeviceDescription describePedal() const      { return {}; }

    /** A pedal whose only configuration has no interface to claim. */
    static UsbDeviceDescription pedalWithoutInterface();

    void startExport (const juce::File& target, int slot = 0);
    void startImport (const juce::File& input, int slot = 0);

    /** Waits until the worker has cleared busy and asked for the controls back, its last step. */
    bool waitForWorkerEnd (int timeoutMs = 20000);

    /** Waits until the pedal holds the last started worker's transfer of this data chunk
        (counted from 0) open: every chunk before it has been moved and counted by then.
    */
    bool waitForPendingChunk (size_t chunk, bool pedalSends);

    /** The progress text left for the timer, then shown by one tick. */
    juce::String progressText() const                       { return access->pendingProgressText(); }
    float progress() const                                  { return access->progressValue().load(); }
    UiRequestFlags::ControlsRequest controlsRequest() const { return access->uiRequestFlags().peekControlsRequest(); }

    std::vector<ShownAlert> takeAlerts()                    { return ShownAlerts::dismissAll(); }

    /** Waits for the worker's end, then checks the text it left and the alert it showed: none
        where alertTitle is empty, else one warning with an OK button.
    */
    void expectEnding (const juce::String& text, const juce::String& alertTitle = {}, const juce::String& alertMessage = {});

    /** The sizes of the data chunks the last started worker has moved so far. */
    std::vector<int> chunksSinceStart (bool pedalSends) const;

    PedalFirmware& firmware() const                         { return pedal->firmware(); }

    /** The pedal's default wave information with one change. */
    void setWaveInfo (const std::function<void (PedalFirmware::WaveInfo&)>& change);

    juce::File scratchFile (const juce::String& name) const { return scratch.getChildFile (name); }

    /** From here on the protocol's time-outs are the program's own. */
    void useProgramTimeouts()                               { timeouts.reset(); }

    static std::vector<juce::uint8> pattern (size_t size, int seed = 1);

    /** A plain 44-byte PCM header; the framework's writer makes the same one. */
    static juce::MemoryBlock wavHeader (int channels, int rate, int bits, juce::uint32 dataSize);

    /** A WAV file of noise with exactly this many bytes, in the given format. */
    juce::File writeWav (const juce::String& name, juce::uint32 totalSize, int channels = 2, int rate = 44100, int bits = 16) const;

    static std::vector<juce::uint8> bytesOf (const juce::File& file);

    SimulatedPedal* pedal = nullptr;

private:
    void startWorker (void (MainComponent::*worker)(), const juce::File& path, int slot);

    bool workerMayRun = false;
    size_t sentChunksAtStart = 0, receivedChunksAtStart = 0;
    std::optional<ShortTimeouts> timeouts { std::in_place, 300, 300, 300 };
    juce::File scratch;
    std::optional<std::string> previousTmpDir;
};
