#include <gtest/gtest.h>

#include "DragWriteConfirm.h"
#include "WriteConfirm.h"

#include <optional>

using namespace juce;

namespace
{
    const String droppedPath ("/home/player/Phrases/Intro riff (take 3).wav");

    struct DialogKind
    {
        const char* title;
        std::function<Component*()> create;
        const char* initialBounds;
        const char* question;
        String path;            // shown by the drop dialog only
        uint32 focusedFill;     // only the drop dialog's buttons turn blue while focused
    };

    const DialogKind kinds[] = {
        { "Export to device", [] { return new WriteConfirm(); }, "0 0 400 300",
          "A phrase already exits on the device.\nDo you want to replace it?", {}, 0 },
        { "Write to device", [] { return new DragWriteConfirm (droppedPath); }, "0 0 350 150",
          "A phrase already exits on the device.\nDo you want to replace it with the following file?", droppedPath, 0xff26c5ff },
    };

    // A label showing the text, or a button captioned with it.
    Component* childShowing (Component& dialog, const String& text)
    {
        for (auto* child : dialog.getChildren())
        {
            auto* label = dynamic_cast<Label*> (child);
            auto* button = dynamic_cast<Button*> (child);

            if ((label != nullptr && label->getText() == text) || (button != nullptr && button->getButtonText() == text))
                return child;
        }

        return nullptr;
    }

    bool pumpUntil (const std::function<bool()>& condition)
    {
        for (const auto deadline = Time::getMillisecondCounter() + 10000; ! condition() && Time::getMillisecondCounter() < deadline; )
            MessageManager::getInstance()->runDispatchLoopUntil (5);

        return condition();
    }

    /** A dialog in a real modal window of its own, its modal callback recording the result. */
    struct LaunchedDialog
    {
        explicit LaunchedDialog (const DialogKind& kind)
            : content (kind.create())
        {
            DialogWindow::LaunchOptions options;
            options.content.setOwned (content);
            options.dialogTitle = kind.title;
            options.escapeKeyTriggersCloseButton = true;
            options.useNativeTitleBar = true;
            window = options.launchAsync();
            ModalComponentManager::getInstance()->attachCallback (window, ModalCallbackFunction::create (
                [answer = result] (int value) { *answer = value; }));
        }

        ~LaunchedDialog()
        {
            // A failed check must not leave a modal window behind for the next one.
            if (window != nullptr)
                window->exitModalState (-1);

            pumpUntil ([this] { return window == nullptr; });
        }

        Component::SafePointer<Component> content;
        Component::SafePointer<DialogWindow> window;
        std::shared_ptr<std::optional<int>> result = std::make_shared<std::optional<int>>();
    };
}

TEST (ConfirmDialogs, ShowTheQuestionThePathAndTheButtonsAtAnySize)
{
    // Bounds as "x y w h" of the question, the path, Cancel and Replace.
    struct Case { int kind, width, height; const char *question, *path, *cancel, *replace; };

    const Case cases[] = {
        { 0, 400, 300, "8 8 384 232", "", "140 254 50 24", "210 254 50 24" },
        { 0, 401, 300, "8 8 385 232", "", "140 254 50 24", "210 254 50 24" },  // half an odd width rounds down
        { 0, 600, 500, "8 8 584 432", "", "240 454 50 24", "310 454 50 24" },
        { 1, 350, 150, "0 16 350 40", "0 51 350 45", "91 108 70 24", "189 108 70 24" },
        { 1, 700, 300, "0 32 700 80", "0 102 700 90", "182 216 140 48", "378 216 140 48" },
    };

    for (auto& c : cases)
    {
        auto& kind = kinds[c.kind];
        SCOPED_TRACE (testing::Message() << kind.title << " at " << c.width << "x" << c.height);
        std::unique_ptr<Component> dialog (kind.create());
        EXPECT_EQ (dialog->getBounds().toString(), kind.initialBounds);

        dialog->setSize (c.width, c.height);
        auto boundsOf = [&dialog] (const String& text) -> String
        {
            auto* child = childShowing (*dialog, text);
            return child != nullptr ? child->getBounds().toString() : "missing";
        };

        EXPECT_EQ (boundsOf (kind.question), c.question);
        EXPECT_EQ (kind.path.isEmpty() ? String() : boundsOf (kind.path), c.path);
        EXPECT_EQ (boundsOf ("Cancel"), c.cancel);
        EXPECT_EQ (boundsOf ("Replace"), c.replace);

        for (auto* text : { "Cancel", "Replace" })
            EXPECT_EQ (childShowing (*dialog, text)->findColour (TextButtonWithIcon::backgroundFocusedColourId).getARGB(),
                       kind.focusedFill) << text;
    }
}

// Input enters the window's peer where the windowing system's events do.
TEST (ConfirmDialogs, ReplaceGivesOneAndCancelEscapeOrClosingGiveZeroThroughALaunchedWindow)
{
    ASSERT_TRUE (SystemStats::getEnvironmentVariable ("DISPLAY", {}).isNotEmpty()) << "run this test under xvfb-run";

    auto click = [] (LaunchedDialog& dialog, const char* text)
    {
        auto& button = *childShowing (*dialog.content, text);
        const auto where = dialog.window->getLocalPoint (&button, button.getLocalBounds().getCentre()).toFloat();

        for (auto buttons : { ModifierKeys::leftButtonModifier, ModifierKeys::noModifiers })
            dialog.window->getPeer()->handleMouseEvent (MouseInputSource::InputSourceType::mouse, where, ModifierKeys (buttons),
                                                        MouseInputSource::defaultPressure, MouseInputSource::defaultOrientation,
                                                        Time::currentTimeMillis());
    };

    struct Answer { const char* how; int expected; std::function<void (LaunchedDialog&)> give; };

    const Answer answers[] = {
        { "Replace", 1, [&] (LaunchedDialog& d) { click (d, "Replace"); } },
        { "Cancel",  0, [&] (LaunchedDialog& d) { click (d, "Cancel"); } },
        { "Escape",  0, [] (LaunchedDialog& d) { d.window->getPeer()->handleKeyPress (KeyPress (KeyPress::escapeKey)); } },
        { "close",   0, [] (LaunchedDialog& d) { d.window->getPeer()->handleUserClosingWindow(); } },
    };

    for (auto& kind : kinds)
    {
        for (auto& answer : answers)
        {
            SCOPED_TRACE (testing::Message() << kind.title << ", " << answer.how);
            LaunchedDialog dialog (kind);
            ASSERT_TRUE (dialog.window != nullptr && dialog.window->getPeer() != nullptr);

            answer.give (dialog);
            EXPECT_TRUE (pumpUntil ([&] { return dialog.result->has_value(); }));
            EXPECT_EQ (dialog.result->value_or (-1), answer.expected);
            EXPECT_TRUE (pumpUntil ([&] { return dialog.window == nullptr && dialog.content == nullptr; }));
        }
    }
}
