#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#if defined (__SANITIZE_THREAD__)
 #include <sanitizer/common_interface_defs.h>
#endif

int main (int argc, char** argv)
{
   #if defined (__SANITIZE_THREAD__)
    // The sanitizer's first symbolization reads every loaded library under the loader's lock and
    // calls umockdev's file wrappers, which look up the real functions on first use and need that
    // lock too: a first report while the framework unloads a library at exit would deadlock.
    char symbol[256];
    __sanitizer_symbolize_pc (__builtin_return_address (0), "%f", symbol, sizeof (symbol));
   #endif

    ::testing::InitGoogleTest (&argc, argv);

    // A gtest binary is not a JUCEApplication, so the framework installs no X error handler of its
    // own, and a real window on bare Xvfb would otherwise die on a BadAtom error.
    XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });

    // First on the PATH, a "which" that finds neither zenity nor kdialog: the framework then
    // draws its own file dialogs, here and in the programs started from here, whether or not
    // the desktop has them.
    const auto path = juce::String (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR) + ":" + juce::SystemStats::getEnvironmentVariable ("PATH", {});
    setenv ("PATH", path.toRawUTF8(), 1);

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
