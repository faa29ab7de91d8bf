#include "ShownAlerts.h"
#include "WaitFor.h"

namespace
{
juce::Array<juce::AlertWindow*> openAlerts()
{
    juce::Array<juce::AlertWindow*> alerts;

    for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
        if (auto* alert = dynamic_cast<juce::AlertWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
            alerts.add (alert);

    return alerts;
}

ShownAlert describe (juce::AlertWindow& alert)
{
    ShownAlert shown;
    shown.title = alert.getName();
    shown.icon = alert.getAlertType();

    // The window keeps its message only in its accessible description, after the title.
    shown.message = alert.getDescription().fromFirstOccurrenceOf (shown.title + ". ", false, false);

    for (auto* child : alert.getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child))
            shown.buttons.add (button->getButtonText());

    return shown;
}
}

namespace ShownAlerts
{

std::vector<ShownAlert> list()
{
    std::vector<ShownAlert> shown;

    for (auto* alert : openAlerts())
        shown.push_back (describe (*alert));

    return shown;
}

std::vector<ShownAlert> dismissAll()
{
    auto shown = list();

    for (auto* alert : openAlerts())
        alert->exitModalState (0);

    waitFor ([] { return openAlerts().isEmpty(); });
    return shown;
}

} // namespace ShownAlerts
