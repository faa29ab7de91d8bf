#pragma once

#include <juce_core/juce_core.h>

/** Why an import failed; each value has its own warning. */
enum ImportError
{
    noImportError       = 0,
    fileTooLarge        = 1,
    decodedFileTooLarge = 2,
    readInfoError       = 3,
    openDeviceError     = 4,
    transferError       = 5,
    formatError         = 6,
    fileNotExists       = 7
};

struct ImportAlert
{
    juce::String title;
    juce::String message;
};

/** The warning for an import failure. The size errors name the file's size and the pedal's
    limit; a transfer error names the library's result.
*/
ImportAlert describeImportError (ImportError error, int transferResult, juce::int64 size, juce::uint32 limit);
