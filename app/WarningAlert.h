#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Asks for a warning box with the framework's own "OK" button, from any thread; the box is
    made on the message thread. The owner's look-and-feel (the application's default one) is
    first told to prefer the platform's own message boxes where it has them.
*/
void showWarningAlert (juce::Component& owner, const juce::String& title, const juce::String& message);
