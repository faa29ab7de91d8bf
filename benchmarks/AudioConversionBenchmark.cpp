#include <benchmark/benchmark.h>

#include "AudioConversion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace
{
constexpr int inputSeconds = 300;
constexpr double inputRate = 44100.0;

juce::File& scratchFolder()
{
    static juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                   .getNonexistentChildFile ("quendrix-benchmark", "", false);
    return folder;
}

/** Five minutes of a stereo sine pair, written block by block. */
juce::File makeInput (juce::AudioFormat& format, const juce::String& name, int bits)
{
    auto file = scratchFolder().getChildFile (name);

    if (file.existsAsFile())
        return file;

    std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (new juce::FileOutputStream (file),
                                                                             inputRate, 2, bits, {}, 0));
    juce::AudioBuffer<float> block (2, (int) inputRate);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < block.getNumSamples(); ++i)
            block.setSample (c, i, 0.5f * (float) std::sin (juce::MathConstants<double>::twoPi * 1000.0 / (c + 1) * i / inputRate));

    for (int second = 0; second < inputSeconds; ++second)
        writer->writeFromAudioSampleBuffer (block, 0, block.getNumSamples());

    return file;
}

juce::int64 readStatusKb (const char* field)
{
    for (auto& line : juce::StringArray::fromLines (juce::File ("/proc/self/status").loadFileAsString()))
        if (line.startsWith (field))
            return line.fromFirstOccurrenceOf (":", false, false).getLargeIntValue();

    return -1;
}

void resetPeakResidentSize()
{
    std::ofstream ("/proc/self/clear_refs") << "5";
}

void runConversion (benchmark::State& state, const juce::File& input, double rate, int bits, int channels)
{
    ::setenv ("TMPDIR", scratchFolder().getChildFile ("tmp").getFullPathName().toRawUTF8(), 1);
    juce::int64 peakKb = 0;

    for (auto _ : state)
    {
        resetPeakResidentSize();

        if (! convertToDeviceWav (input.getFullPathName(), rate, bits, channels, 1 << 29).succeeded())
            state.SkipWithError ("conversion failed");

        peakKb = std::max (peakKb, readStatusKb ("VmHWM"));
    }

    // The whole process's peak while converting: framework, benchmark library and all.
    state.counters["peak_rss_MB"] = (double) peakKb / 1024.0;
    state.counters["x_realtime"] = benchmark::Counter ((double) inputSeconds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["output_MB"] = (double) getTemporaryWavFile().getSize() / 1.0e6;
}

void resampleWav (benchmark::State& state)
{
    juce::WavAudioFormat wav;
    runConversion (state, makeInput (wav, "long.wav", 16), 48000.0, 16, 2);
}

void decodeFlac (benchmark::State& state)
{
    juce::FlacAudioFormat flac;
    runConversion (state, makeInput (flac, "long.flac", 16), 48000.0, 24, 2);
}

void copyWavInPedalFormat (benchmark::State& state)
{
    juce::WavAudioFormat wav;
    runConversion (state, makeInput (wav, "long.wav", 16), inputRate, 16, 2);
}
} // namespace

BENCHMARK (resampleWav)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (decodeFlac)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (copyWavInPedalFormat)->Unit (benchmark::kMillisecond)->UseRealTime();

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    scratchFolder().createDirectory();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    scratchFolder().deleteRecursively();
    return 0;
}
