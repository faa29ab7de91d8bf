#pragma once

#include <juce_myModule/juce_myModule.h>

#include <cstdlib>
#include <functional>

// Widgets painted into an image at scale 1, so one pixel is one unit.
namespace widgetpixels
{
    inline juce::Image paint (juce::Component& component)
    {
        return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    }

    inline bool sameArgb (juce::Colour a, juce::Colour b, int tolerance = 3)
    {
        auto near = [tolerance] (int x, int y) { return std::abs (x - y) <= tolerance; };
        return near (a.getRed(), b.getRed()) && near (a.getGreen(), b.getGreen()) && near (a.getBlue(), b.getBlue())
            && near (a.getAlpha(), b.getAlpha());
    }

    inline int countPixels (const juce::Image& image, juce::Rectangle<int> area, const std::function<bool (juce::Colour)>& matches)
    {
        int count = 0;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                count += matches (image.getPixelAt (x, y)) ? 1 : 0;

        return count;
    }
}
