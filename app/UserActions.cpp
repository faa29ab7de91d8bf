#include "MainComponent.h"

// The user actions are not wired up yet: no button, drop or dialog starts anything.
void MainComponent::buttonClicked (juce::Button*) {}
bool MainComponent::isInterestedInFileDrag (const juce::StringArray&) { return false; }
void MainComponent::filesDropped (const juce::StringArray&, int, int) {}
void MainComponent::writeEventCallbackTrue (int) {}
void MainComponent::writeEventCallback (int, MainComponent*) {}
void MainComponent::dragWriteEventCallback (int, MainComponent*) {}
