#include "WarningAlert.h"

void showWarningAlert (const juce::String& title, const juce::String& message)
{
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, title, message,
                                            {}, nullptr, nullptr);
}
