#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** Converts an audio file to the pedal's format in the temporary file (or copies a WAV file that
    is already in that format).

    True only when the temporary file holds the whole file to send. False means the file must not
    be sent: the input is gone or unreadable, the target is one the WAV writer cannot produce, the
    temporary folder is not safely the user's own, or writing the file failed. After a failure
    that touched the temporary file, the file is removed.
*/
bool convertToDeviceWav (const juce::String& inputPath, double targetRate, int targetBits, int targetChannels);

/** "brevomatic_tmp.wav" in a folder of the user's own inside the temporary directory. */
juce::File getTemporaryWavFile();

/** The registered audio formats' file patterns, each once, joined with ";". */
juce::String buildSupportedWildcards();
