#pragma once

#include "WaitFor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

/** What an alert window put in front of the user. */
struct ShownAlert
{
    juce::String title;
    juce::String message;
};

/** The framework's own alert windows: each is modal, so the one on top is the modal component in front. */
namespace ShownAlerts
{
    /** Closes the open alerts, runs the message loop until they are gone, and tells what they showed. */
    inline std::vector<ShownAlert> dismissAll()
    {
        std::vector<ShownAlert> shown;

        while (auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent()))
        {
            // The window keeps its message only in its accessible description, after the title.
            shown.push_back ({ alert->getName(), alert->getDescription().fromFirstOccurrenceOf (alert->getName() + ". ", false, false) });
            alert->exitModalState (0);
            waitFor ([closed = juce::Component::SafePointer<juce::Component> (alert)] { return closed == nullptr; });
        }

        return shown;
    }
}
