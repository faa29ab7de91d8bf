#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

#if defined (__SANITIZE_THREAD__)
 #include <sanitizer/common_interface_defs.h>
#endif

namespace
{
// A gtest binary is not a JUCEApplication, so the framework installs no X error handler of its
// own, and a real window on bare Xvfb would otherwise die on a BadAtom error.
int ignoreXError (Display*, XErrorEvent*) { return 0; }

#if defined (__SANITIZE_THREAD__)
// The sanitizer's first symbolization reads every loaded library under the loader's lock and
// calls umockdev's file wrappers, which look up the real functions on first use and need that
// lock too: a first report while the framework unloads a library at exit would deadlock.
void symbolizeOnceBeforeAnyThread()
{
    char text[256];
    __sanitizer_symbolize_pc (__builtin_return_address (0), "%f", text, sizeof (text));
}
#else
void symbolizeOnceBeforeAnyThread() {}
#endif
}

int main (int argc, char** argv)
{
    symbolizeOnceBeforeAnyThread();
    ::testing::InitGoogleTest (&argc, argv);
    XSetErrorHandler (ignoreXError);

    // First on the PATH, a "which" that finds neither zenity nor kdialog: the framework then
    // draws its own file dialogs, here and in the programs started from here, whether or not
    // the desktop has them.
    const auto* path = std::getenv ("PATH");
    const std::string withoutHelpers = std::string (QUENDRIX_WITHOUT_DIALOG_HELPERS_DIR) + ":" + (path != nullptr ? path : "");
    setenv ("PATH", withoutHelpers.c_str(), 1);

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
