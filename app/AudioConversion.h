#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** Converts an audio file to the pedal's format in the temporary file (or copies a WAV file that
    is already in that format). False means the file must not be sent.
*/
bool convertToDeviceWav (const juce::String& inputPath, double targetRate, int targetBits, int targetChannels);

/** "brevomatic_tmp.wav" in a folder of the user's own inside the temporary directory. */
juce::File getTemporaryWavFile();

/** The registered audio formats' file patterns, each once, joined with ";". */
juce::String buildSupportedWildcards();
