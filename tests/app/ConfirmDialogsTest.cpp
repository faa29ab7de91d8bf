#include <gtest/gtest.h>

#include "DragWriteConfirm.h"
#include "WriteConfirm.h"

#include "ConfirmDialogsXInput.h"

#include <optional>

using namespace juce;

namespace
{
    const String writeQuestion = "A phrase already exits on the device.\nDo you want to replace it?";
    const String dropQuestion  = "A phrase already exits on the device.\nDo you want to replace it with the following file?";

    TextButtonWithIcon* findButton (Component& dialog, const String& text)
    {
        for (auto* child : dialog.getChildren())
            if (auto* button = dynamic_cast<TextButtonWithIcon*> (child))
                if (button->getButtonText() == text)
                    return button;

        return nullptr;
    }

    Array<Label*> labelsOf (Component& dialog)
    {
        Array<Label*> labels;

        for (auto* child : dialog.getChildren())
            if (auto* label = dynamic_cast<Label*> (child))
                labels.add (label);

        return labels;
    }

    Label* findLabel (Component& dialog, const String& text)
    {
        for (auto* label : labelsOf (dialog))
            if (label->getText() == text)
                return label;

        return nullptr;
    }

    bool pumpUntil (const std::function<bool()>& condition, const std::function<void()>& eachRound = {})
    {
        const auto deadline = Time::getMillisecondCounter() + 10000;

        while (! condition())
        {
            if (Time::getMillisecondCounter() > deadline)
                return false;

            if (eachRound)
                eachRound();

            MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    //==============================================================================
    /** A confirmation dialog launched as the main window launches it, its modal callback
        recording the result.
    */
    class LaunchedDialog
    {
    public:
        LaunchedDialog (Component* contentToOwn, const String& title)
            : content (contentToOwn)
        {
            DialogWindow::LaunchOptions options;
            options.content.setOwned (contentToOwn);
            options.dialogTitle = title;
            options.dialogBackgroundColour = Colour (0xff0e345a);
            options.escapeKeyTriggersCloseButton = true;
            options.useNativeTitleBar = true;
            options.resizable = true;

            window = options.launchAsync();
            ModalComponentManager::getInstance()->attachCallback (window, ModalCallbackFunction::create (
                [answer = result] (int value) { *answer = value; }));
            contentToOwn->toFront (true);
        }

        ~LaunchedDialog()
        {
            // A failed test must not leave a modal window behind for the next one.
            if (window != nullptr)
                window->exitModalState (-1);

            pumpUntil ([this] { return window == nullptr; });
        }

        unsigned long nativeWindow() const
        {
            return (unsigned long) (pointer_sized_uint) window->getPeer()->getNativeHandle();
        }

        Point<int> centreInWindow (Component& child) const
        {
            const auto scale = (float) window->getPeer()->getPlatformScaleFactor();
            return (window->getLocalPoint (&child, child.getLocalBounds().getCentre()).toFloat() * scale).roundToInt();
        }

        Component::SafePointer<DialogWindow> window;
        Component::SafePointer<Component> content;
        std::shared_ptr<std::optional<int>> result = std::make_shared<std::optional<int>>();
    };

    struct DialogKind
    {
        const char* name;
        const char* title;
        std::function<Component*()> create;
    };

    const DialogKind dialogKinds[] = {
        { "WriteConfirm",     "Export to device", [] { return new WriteConfirm(); } },
        { "DragWriteConfirm", "Write to device",  [] { return new DragWriteConfirm ("/home/player/take 3.wav"); } },
    };
}

//==============================================================================
TEST (WriteConfirmLayout, ButtonsSitUnderTheMessageAroundTheMiddle)
{
    WriteConfirm dialog;
    ASSERT_EQ (dialog.getBounds(), Rectangle<int> (0, 0, 400, 300));

    auto* cancel = findButton (dialog, "Cancel");
    auto* replace = findButton (dialog, "Replace");
    ASSERT_NE (cancel, nullptr);
    ASSERT_NE (replace, nullptr);

    EXPECT_EQ (dialog.messageLabel->getBounds(), Rectangle<int> (8, 8, 384, 232));
    EXPECT_EQ (cancel->getBounds(), Rectangle<int> (140, 254, 50, 24));
    EXPECT_EQ (replace->getBounds(), Rectangle<int> (210, 254, 50, 24));

    // Half of an odd width rounds down.
    dialog.setSize (401, 300);
    EXPECT_EQ (cancel->getX(), 140);
    EXPECT_EQ (replace->getX(), 210);
    EXPECT_EQ (dialog.messageLabel->getWidth(), 385);

    // A user resizing the window moves the buttons with the bottom edge.
    dialog.setSize (600, 500);
    EXPECT_EQ (dialog.messageLabel->getBounds(), Rectangle<int> (8, 8, 584, 432));
    EXPECT_EQ (cancel->getBounds(), Rectangle<int> (240, 454, 50, 24));
    EXPECT_EQ (replace->getBounds(), Rectangle<int> (310, 454, 50, 24));
}

TEST (DragWriteConfirmLayout, EverythingScalesWithTheWindow)
{
    DragWriteConfirm dialog ("/tmp/a.wav");
    ASSERT_EQ (dialog.getBounds(), Rectangle<int> (0, 0, 350, 150));

    auto* question = findLabel (dialog, dropQuestion);
    auto* path = findLabel (dialog, "/tmp/a.wav");
    auto* cancel = findButton (dialog, "Cancel");
    auto* replace = findButton (dialog, "Replace");
    ASSERT_TRUE (question != nullptr && path != nullptr && cancel != nullptr && replace != nullptr);

    EXPECT_EQ (question->getBounds(), Rectangle<int> (0, 16, 350, 40));
    EXPECT_EQ (path->getBounds(), Rectangle<int> (0, 51, 350, 45));
    EXPECT_EQ (cancel->getBounds(), Rectangle<int> (91, 108, 70, 24));
    EXPECT_EQ (replace->getBounds(), Rectangle<int> (189, 108, 70, 24));

    dialog.setSize (700, 300);
    EXPECT_EQ (question->getBounds(), Rectangle<int> (0, 32, 700, 80));
    EXPECT_EQ (path->getBounds(), Rectangle<int> (0, 102, 700, 90));
    EXPECT_EQ (cancel->getBounds(), Rectangle<int> (182, 216, 140, 48));
    EXPECT_EQ (replace->getBounds(), Rectangle<int> (378, 216, 140, 48));
}

//==============================================================================
TEST (ConfirmDialogTexts, WriteConfirmAsksOnlyTheQuestion)
{
    WriteConfirm dialog;

    EXPECT_EQ (labelsOf (dialog).size(), 1);
    EXPECT_EQ (dialog.messageLabel->getText(), writeQuestion);
    EXPECT_FALSE (dialog.messageLabel->isEditableOnSingleClick() || dialog.messageLabel->isEditableOnDoubleClick());

    // Only the drop dialog's buttons turn blue while focused.
    for (auto* text : { "Cancel", "Replace" })
        EXPECT_EQ (findButton (dialog, text)->findColour (TextButtonWithIcon::backgroundFocusedColourId).getARGB(), 0u) << text;
}

TEST (ConfirmDialogTexts, DragWriteConfirmShowsTheQuestionAndTheDroppedPath)
{
    const String path ("/home/player/Phrases/Intro riff (take 3).wav");
    DragWriteConfirm dialog (path);

    EXPECT_EQ (labelsOf (dialog).size(), 2);
    EXPECT_NE (findLabel (dialog, dropQuestion), nullptr);
    EXPECT_NE (findLabel (dialog, path), nullptr);

    for (auto* text : { "Cancel", "Replace" })
        EXPECT_EQ (findButton (dialog, text)->findColour (TextButtonWithIcon::backgroundFocusedColourId).getARGB(), 0xff26c5ffu) << text;
}

//==============================================================================
class ConfirmDialogAnswers : public ::testing::TestWithParam<DialogKind>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (input.isConnected()) << "these tests need an X display (run them under xvfb-run)";
        dialog = std::make_unique<LaunchedDialog> (GetParam().create(), GetParam().title);
        ASSERT_NE (dialog->window, nullptr);
        ASSERT_TRUE (dialog->window->isCurrentlyModal());
    }

    void clickButton (const String& text)
    {
        auto* button = findButton (*dialog->content, text);
        ASSERT_NE (button, nullptr);

        const auto where = dialog->centreInWindow (*button);
        input.click (dialog->nativeWindow(), where.x, where.y);
    }

    std::optional<int> waitForAnswer()
    {
        const auto nativeWindow = dialog->nativeWindow();
        pumpUntil ([this] { return dialog->result->has_value(); },
                   [&] { if (dialog->window != nullptr) input.nudge (nativeWindow); });
        return *dialog->result;
    }

    bool waitUntilClosed()
    {
        return pumpUntil ([this] { return dialog->window == nullptr && dialog->content == nullptr; });
    }

    ConfirmDialogsXInput input;
    std::unique_ptr<LaunchedDialog> dialog;
};

TEST_P (ConfirmDialogAnswers, ReplaceGivesOneAndTheWindowGoes)
{
    clickButton ("Replace");

    EXPECT_EQ (waitForAnswer(), std::optional<int> (1));
    EXPECT_TRUE (waitUntilClosed());
}

TEST_P (ConfirmDialogAnswers, CancelGivesZeroAndTheWindowGoes)
{
    clickButton ("Cancel");

    EXPECT_EQ (waitForAnswer(), std::optional<int> (0));
    EXPECT_TRUE (waitUntilClosed());
}

TEST_P (ConfirmDialogAnswers, EscapeGivesZero)
{
    input.pressEscape (dialog->nativeWindow());

    EXPECT_EQ (waitForAnswer(), std::optional<int> (0));
    EXPECT_TRUE (waitUntilClosed());
}

TEST_P (ConfirmDialogAnswers, CloseButtonGivesZero)
{
    // A window manager reports a click on its close button with a WM_DELETE_WINDOW message, which
    // the framework hands to the peer. Bare Xvfb has no window manager, and the framework, started
    // before anything created the WM atoms, would not recognise that message: enter where its
    // handler does.
    dialog->window->getPeer()->handleUserClosingWindow();

    EXPECT_EQ (waitForAnswer(), std::optional<int> (0));
    EXPECT_TRUE (waitUntilClosed());
}

TEST_P (ConfirmDialogAnswers, AnyOtherButtonLeavesTheQuestionOpen)
{
    TextButton stranger ("Replace");
    dynamic_cast<Button::Listener&> (*dialog->content).buttonClicked (&stranger);

    EXPECT_TRUE (dialog->window->isCurrentlyModal());
    EXPECT_FALSE (dialog->result->has_value());
}

INSTANTIATE_TEST_SUITE_P (BothDialogs, ConfirmDialogAnswers, ::testing::ValuesIn (dialogKinds),
                          [] (const ::testing::TestParamInfo<DialogKind>& kind) { return std::string (kind.param.name); });
