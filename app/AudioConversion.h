#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** What a conversion gave. */
struct ConversionResult
{
    enum Outcome
    {
        converted,  ///< the temporary file holds the whole file to send
        refused,    ///< the file must not be sent: the import's formatError
        tooLarge    ///< the file to send would exceed the size limit: nothing was written
    };

    Outcome outcome = refused;
    juce::int64 size = 0;   ///< tooLarge: the size in bytes the file to send would have

    bool succeeded() const noexcept { return outcome == converted; }
};

/** Converts an audio file to the pedal's format in the temporary file (or copies a WAV file that
    is already in that format).

    converted only when the temporary file holds the whole file to send. refused means the file
    must not be sent: the input is gone, not a regular file, unreadable or of a kind the readers
    cannot read faithfully (bit depths they would turn into silence or noise, frames wider than
    they read), the target is one the WAV writer cannot produce, the temporary folder is not
    safely the user's own, or writing the file failed. tooLarge means the size that the file to
    send would have (known before any sample is read) exceeds sizeLimit; nothing is written then.
    After a failure that touched the temporary file, the file is removed.
*/
ConversionResult convertToDeviceWav (const juce::String& inputPath, double targetRate, int targetBits, int targetChannels,
                                     juce::int64 sizeLimit);

/** "brevomatic_tmp.wav" in a folder of the user's own inside the temporary directory. */
juce::File getTemporaryWavFile();

/** The registered audio formats' file patterns, each once, joined with ";". */
juce::String buildSupportedWildcards();
