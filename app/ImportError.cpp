#include "ImportError.h"
#include "PedalProtocol.h"

using namespace juce;

ImportAlert describeImportError (ImportError error, int transferResult, int64 size, uint32 limit)
{
    const auto sizeMessage = [size, limit]
    {
        return "File size is " + HelpTools::stringFromBytesWithUnit ((double) size)
             + " ,larger than " + HelpTools::stringFromBytesWithUnit ((double) limit)
             + ".\nYou should reduce the length of the audio file.";
    };

    switch (error)
    {
        case fileTooLarge:         return { "Input audio file size is too large", sizeMessage() };
        case decodedFileTooLarge:  return { "Input audio file size is too large", "After decode to wave format.\n" + sizeMessage() };
        case readInfoError:        return { "Read info from device error", {} };
        case openDeviceError:      return { "open usb device error", {} };
        case transferError:        return { "Transfer Error", PedalProtocol::errorCodeText (transferResult) };
        case formatError:          return { "Audio Format", "Format error ,check you input file" };
        case fileNotExists:        return { "Input file", "file not exists" };
        case noImportError:        break;
    }

    return {};
}
