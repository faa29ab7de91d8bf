#include <gtest/gtest.h>

#include "WidgetPixels.h"

using namespace juce;

// Run under AddressSanitizer this also shows that nothing touches a look-and-feel after its widget.
TEST (WidgetLifetime, DestroyingWidgetsInUseLeavesNoLookAndFeelBehind)
{
    testing::internal::CaptureStderr();

    {
        Component parent;
        parent.setSize (300, 100);

        auto button = std::make_unique<TextButtonWithIcon> ("Replace", nullptr, 0.1f, true, 0xffcccccc, 0xff000000,
                                                            0x00000000, 0xff26c5ff, 0xff26c5ff, 0xffffffff);
        auto label = std::make_unique<ProgressLabel>();
        parent.addAndMakeVisible (*button);
        parent.addAndMakeVisible (*label);
        button->setBounds (0, 0, 70, 24);
        label->setBounds (0, 40, 300, 20);

        button->focusGained (Component::focusChangedDirectly);
        button->setState (Button::buttonDown);
        label->setText ("42", dontSendNotification);
        widgetpixels::paint (parent);

        button.reset();
        label.reset();

        EXPECT_EQ (parent.getNumChildComponents(), 0);
        widgetpixels::paint (parent);
    }

    // The framework reports a look-and-feel destroyed while a component still uses it.
    const auto log = String (testing::internal::GetCapturedStderr());
    EXPECT_FALSE (log.contains ("JUCE Assertion failure")) << log;
}
