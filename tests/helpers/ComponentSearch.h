#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include <functional>

namespace ComponentSearch
{
    /** The first component of Type below parent, depth first, for which matches holds. */
    template <typename Type>
    Type* find (juce::Component& parent, const std::function<bool (Type&)>& matches = [] (Type&) { return true; })
    {
        for (auto* child : parent.getChildren())
            if (auto* typed = dynamic_cast<Type*> (child); typed != nullptr && matches (*typed))
                return typed;
            else if (auto* found = find<Type> (*child, matches))
                return found;

        return nullptr;
    }

    /** The button below parent that shows text. */
    inline juce::Button* findButton (juce::Component& parent, const juce::String& text)
    {
        return find<juce::Button> (parent, [text] (juce::Button& b) { return b.getButtonText() == text; });
    }
}
