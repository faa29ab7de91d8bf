#include <gtest/gtest.h>

#include "DragWriteConfirm.h"
#include "WriteConfirm.h"
#include "helpers/ComponentSearch.h"

using namespace juce;

TEST (ConfirmDialogs, ShowTheQuestionThePathAndBothButtonsWholeAndClearOfTheTexts)
{
    const String path ("/home/player/Phrases/Intro riff (take 3).wav");

    const struct { std::function<Component*()> create; StringArray labels; } kinds[] {
        { [] { return new WriteConfirm(); },
          { "A phrase already exits on the device.\nDo you want to replace it?" } },
        { [path] { return new DragWriteConfirm (path); },
          { "A phrase already exits on the device.\nDo you want to replace it with the following file?", path } },
    };

    for (auto& kind : kinds)
    {
        std::unique_ptr<Component> dialog (kind.create());

        // At the size it opens with and larger, as the drop dialog's window may be resized.
        for (auto scale : { 1, 2 })
        {
            SCOPED_TRACE (testing::Message() << kind.labels[0] << " at " << scale << "x");
            dialog->setSize (dialog->getWidth() * scale, dialog->getHeight() * scale);
            Array<Component*> shown;

            for (auto& text : kind.labels)
                shown.add (ComponentSearch::find<Label> (*dialog, [&text] (Label& l) { return l.getText() == text; }));

            ASSERT_FALSE (shown.contains (nullptr));

            for (auto* text : { "Cancel", "Replace" })
            {
                auto* button = ComponentSearch::findButton (*dialog, text);
                ASSERT_NE (button, nullptr) << text;

                for (auto* other : shown)
                    EXPECT_FALSE (other->getBounds().intersects (button->getBounds())) << text;

                shown.add (button);
            }

            for (auto* child : shown)
                EXPECT_TRUE (child->isVisible() && dialog->getLocalBounds().contains (child->getBounds()));
        }
    }
}
