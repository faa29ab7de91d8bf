#include "WarningAlert.h"

void showWarningAlert (juce::Component& owner, const juce::String& title, const juce::String& message)
{
    owner.getLookAndFeel().setUsingNativeAlertWindows (true);
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, title, message,
                                            {}, nullptr, nullptr);
}
