#include <gtest/gtest.h>

#include <juce_myModule/juce_myModule.h>

using namespace juce;

TEST (TextButtonWithIcon, OutlineArrowTextAndFillFollowTheSizeAndTheState)
{
    // A clear normal fill, as on the main window, so the outline shows alone.
    enum Argb : uint32 { clear = 0, text = 0xff000000, focused = 0xff00aa00, down = 0xff26c5ff, disabled = 0xffeeeeee };

    // On a 50 x 16 button the arrow's corners are (45, 5) and (35, 5), its tip (40, 10). Disabled
    // beats pressed, which beats focused; hovering changes nothing.
    const struct { bool enabled, focused; Button::ButtonState state; int x, y; uint32 argb; } probes[] {
        { true,  false, Button::buttonNormal, 0,  8,  0x7ecccccc },   // a one-pixel line half off the grid
        { true,  false, Button::buttonNormal, 2,  8,  clear },
        { true,  false, Button::buttonNormal, 40, 7,  text },
        { true,  false, Button::buttonNormal, 40, 12, clear },
        { true,  false, Button::buttonNormal, 15, 11, 0xdc000000 },   // the foot of the H in a 12-pixel font, the smallest
        { true,  false, Button::buttonOver,   4,  8,  clear },
        { true,  true,  Button::buttonOver,   4,  8,  focused },
        { true,  true,  Button::buttonDown,   4,  8,  down },
        { false, true,  Button::buttonDown,   4,  8,  disabled },
    };

    for (auto& p : probes)
    {
        TextButtonWithIcon button ("H", nullptr, 0.1f, true, 0xffcccccc, text, clear, focused, down, 0xffffffff);
        button.setSize (50, 16);
        button.setEnabled (p.enabled);
        button.hasFocus = p.focused;
        button.setState (p.state);
        const auto image = button.createComponentSnapshot (button.getLocalBounds(), true, 1.0f);
        EXPECT_EQ (image.getPixelAt (p.x, p.y).getARGB(), p.argb) << "probe " << (&p - probes);
    }
}
