#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

/** What an alert window put in front of the user. */
struct ShownAlert
{
    juce::String title;
    juce::String message;
    juce::MessageBoxIconType icon = juce::MessageBoxIconType::NoIcon;
    juce::StringArray buttons;
};

/** The framework's own alert windows, found among the top-level windows on the message thread. */
namespace ShownAlerts
{
    std::vector<ShownAlert> list();

    /** Closes every open alert, runs the message loop until they are gone, and tells what they showed. */
    std::vector<ShownAlert> dismissAll();
}
