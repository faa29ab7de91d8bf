#include "MainComponent.h"

// Exporting is not written yet.
void MainComponent::receiveWaveFile() {}
