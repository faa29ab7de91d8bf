#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Asks for a warning box with the framework's own "OK" button, from any thread; the box is
    made on the message thread.
*/
void showWarningAlert (const juce::String& title, const juce::String& message);
