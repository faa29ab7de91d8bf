#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

namespace
{
// A gtest binary is not a JUCEApplication, so the framework installs no X error handler of its
// own, and a real window on bare Xvfb would otherwise die on a BadAtom error.
int ignoreXError (Display*, XErrorEvent*) { return 0; }
}

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    XSetErrorHandler (ignoreXError);

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
