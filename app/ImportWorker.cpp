#include "MainComponent.h"

// Importing is not written yet.
void MainComponent::sentWaveFile() {}
