/*******************************************************************************
 The block below describes the properties of this module, and is read by
 the framework's tools to work out how to compile and link it.

 BEGIN_JUCE_MODULE_DECLARATION

  ID:                 juce_myModule
  vendor:             quendrix
  version:            1.1.0
  name:               Quendrix pedal access and widget kit
  description:        USB access to the phrase pedal, and the program's own widgets.
  license:            GPL-3.0
  minimumCppStandard: 17

  dependencies:       juce_core, juce_events, juce_graphics, juce_gui_basics
  linuxPackages:      libusb-1.0

 END_JUCE_MODULE_DECLARATION

*******************************************************************************/

#pragma once
#define JUCE_MYMODULE_H_INCLUDED

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>
#include <juce_graphics/juce_graphics.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <libusb.h>

#include "usb/KuvLibUSB_Device.h"
#include "usb/KuvLibUSBManager.h"
#include "widgets/TextButtonWithIcon.h"
#include "widgets/ProgressLabel.h"
#include "widgets/HelpTools.h"
