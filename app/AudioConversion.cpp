#include "AudioConversion.h"

// Placeholder until the conversion lands: nothing converts and no pattern is offered.
bool convertToDeviceWav (const juce::String&, double, int, int) { return false; }
juce::File getTemporaryWavFile() { return {}; }
juce::String buildSupportedWildcards() { return {}; }
