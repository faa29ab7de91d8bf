// The module is compiled as one unit.
#include "juce_myModule.h"

#include "usb/KuvLibUSB_Device.cpp"
#include "usb/KuvLibUSBManager.cpp"
#include "widgets/TextButtonWithIcon.cpp"
#include "widgets/ProgressLabel.cpp"
#include "widgets/HelpTools.cpp"
