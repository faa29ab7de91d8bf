#include "LibUSB_ForKUVApplication.h"

START_JUCE_APPLICATION (LibUSB_ForKUVApplication)
