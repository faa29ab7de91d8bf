#include "ProgramFixture.h"
#include "helpers/WaitFor.h"

#include "BinaryData.h"

#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using namespace juce;

const Rectangle<int> ProgramFixture::statusArea { 17, 85, 588, 46 };
const Rectangle<int> ProgramFixture::progressTextArea { 0, 136, 621, 46 };
const Rectangle<int> ProgramFixture::exportButtonArea { 124, 262, 174, 31 };
const Rectangle<int> ProgramFixture::importButtonArea { 323, 262, 174, 31 };

namespace
{
/** The process holding the program's single-instance lock (one file for the whole machine), or 0. */
pid_t instanceLockHolder()
{
    const auto lockFile = "/var/tmp/juceAppLock_" + String (ProgramFixture::programTitle);
    const auto fd = ::open (lockFile.toRawUTF8(), O_RDONLY);

    if (fd < 0)
        return 0;

    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    const auto holder = ::fcntl (fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK ? query.l_pid : 0;
    ::close (fd);
    return holder;
}
}

//==============================================================================
void ProgramFixture::SetUp()
{
    ASSERT_TRUE (SystemStats::getEnvironmentVariable ("DISPLAY", {}).isNotEmpty()) << "run under an X server (xvfb-run)";

    desktop = std::make_unique<XDesktop>();
    ASSERT_TRUE (desktop->isConnected());

    // Another copy of the program anywhere on this machine would make ours quit at once.
    ASSERT_TRUE (waitFor ([] { return instanceLockHolder() == 0; }, 60000))
        << "the program already runs as process " << instanceLockHolder();

    // Before TMPDIR changes: the testbed's library reads it once per process.
    testbed = std::make_unique<UsbTestbed>();
    pedal = std::make_unique<SimulatedPedal> (*testbed);

    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    artifacts = File (QUENDRIX_TEST_ARTIFACT_DIR).getChildFile ("e2e")
                    .getChildFile (String (info->test_suite_name()) + "." + info->name());
    artifacts.deleteRecursively();
    ASSERT_TRUE (artifacts.createDirectory());

    previousTmpDir = SystemStats::getEnvironmentVariable ("TMPDIR", {});

    // The program's own temporary files land here too, where the test can see them.
    auto folder = File::getSpecialLocation (File::tempDirectory).getChildFile ("e2e-XXXXXX").getFullPathName().toStdString();
    ASSERT_NE (::mkdtemp (folder.data()), nullptr);
    scratch = File (folder);
    ::setenv ("TMPDIR", scratch.getFullPathName().toRawUTF8(), 1);
}

void ProgramFixture::TearDown()
{
    // Every scenario ends as a user ends it; a sanitized program checks for leaks on its way out.
    if (program != nullptr && program->isRunning() && ! HasFailure())
        EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();

    if (program != nullptr && HasFailure())
        std::cout << "The program said:\n" << program->getOutput() << std::endl;

    // Program, pedal, testbed: the order libusb needs.
    program = nullptr;
    pedal = nullptr;
    testbed = nullptr;

    if (previousTmpDir.isNotEmpty())
        ::setenv ("TMPDIR", previousTmpDir.toRawUTF8(), 1);
    else
        ::unsetenv ("TMPDIR");

    scratch.deleteRecursively();
}

void ProgramFixture::startProgram()
{
    program = std::make_unique<TestbedChildProcess>();
    ASSERT_TRUE (program->start (QUENDRIX_BINARY_PATH, {}));

    mainWindow = waitForWindow (programTitle, 20000);
    ASSERT_NE (mainWindow, 0u) << "no main window";
}

bool ProgramFixture::closeProgram()
{
    desktop->requestClose (mainWindow);
    return waitForProgram ([this] { return ! program->isRunning(); }, 20000) && program->getExitCode() == 0;
}

void ProgramFixture::interruptProgram()
{
    // The lock holder is the program itself.
    const auto pid = instanceLockHolder();
    ASSERT_GT (pid, 0) << "the program does not run";
    ASSERT_EQ (::kill (pid, SIGINT), 0);
}

bool ProgramFixture::waitForProgram (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = Time::getMillisecondCounterHiRes() + timeoutMs;

    while (! waitFor (condition, 200))
    {
        if (Time::getMillisecondCounterHiRes() >= deadline)
            return false;

        if (mainWindow != 0)
            desktop->nudge (mainWindow);
    }

    return true;
}

bool ProgramFixture::waitUntilHandled (unsigned long window)
{
    // A focus offer is answered in turn; one that a window shuffle undoes is simply made again.
    for (int attempt = 0; attempt < 20 && program->isRunning(); ++attempt)
    {
        desktop->offerFocus (window);

        if (waitFor ([&] { return desktop->hasFocus (window); }, 500))
            return true;
    }

    return false;
}

//==============================================================================
String ProgramFixture::runTool (const StringArray& command)
{
    // Each argument in single quotes, for the shell that popen starts.
    String line ("exec");

    for (auto& argument : command)
        line << " '" << argument.replace ("'", "'\\''") << "'";

    MemoryOutputStream output;

    if (auto* pipe = ::popen ((line + " </dev/null").toRawUTF8(), "re"))
    {
        char buffer[4096];

        for (size_t n; (n = ::fread (buffer, 1, sizeof (buffer), pipe)) > 0;)
            output.write (buffer, n);

        ::pclose (pipe);
    }

    return output.toString();
}

std::vector<unsigned long> ProgramFixture::findWindows (const String& title)
{
    String pattern ("^");

    for (auto c : title)
        pattern << (String ("\\^$.|?*+()[]{}").containsChar (c) ? "\\" : "") << String::charToString (c);

    auto lines = StringArray::fromLines (runTool ({ "xdotool", "search", "--onlyvisible", "--name", pattern + "$" }));
    lines.removeEmptyStrings();
    std::vector<unsigned long> windows;

    for (auto& line : lines)
        windows.push_back ((unsigned long) line.getLargeIntValue());

    return windows;
}

unsigned long ProgramFixture::waitForWindow (const String& title, int timeoutMs)
{
    std::vector<unsigned long> windows;
    waitForProgram ([&] { return ! (windows = findWindows (title)).empty(); }, timeoutMs);
    EXPECT_LE (windows.size(), 1u) << "more than one window titled " << title;
    return windows.empty() ? 0 : windows.front();
}

bool ProgramFixture::waitForWindowToGo (const String& title, int timeoutMs)
{
    return waitForProgram ([&] { return findWindows (title).empty(); }, timeoutMs) && waitUntilHandled (mainWindow);
}

Rectangle<int> ProgramFixture::getGeometry (unsigned long window)
{
    // "X=330\nY=320\nWIDTH=621\nHEIGHT=385\n..." as the shell would read it.
    StringPairArray values;

    for (auto& line : StringArray::fromLines (runTool ({ "xdotool", "getwindowgeometry", "--shell", String (window) })))
        values.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));

    return { values["X"].getIntValue(), values["Y"].getIntValue(), values["WIDTH"].getIntValue(), values["HEIGHT"].getIntValue() };
}

void ProgramFixture::click (unsigned long window, Point<int> position)
{
    runTool ({ "xdotool", "mousemove", "--sync", "--window", String (window), String (position.x), String (position.y),
               "click", "1" });
}

void ProgramFixture::pressKey (unsigned long window, const String& key)
{
    // With no window manager the keyboard follows the pointer.
    runTool ({ "xdotool", "mousemove", "--sync", "--window", String (window), "1", "1", "key", key });
}

void ProgramFixture::typeText (unsigned long window, const String& text, const String& key)
{
    StringArray command { "xdotool", "windowfocus", "--sync", String (window) };

    if (text.isNotEmpty())
        command.addArray ({ "type", "--delay", "1", text });

    if (key.isNotEmpty())
        command.addArray ({ "key", key });

    runTool (command);
}

void ProgramFixture::chooseFile (unsigned long dialog, const File& file)
{
    // The framework's own dialog is 600 x 500, its filename box runs along its foot. The first
    // Return takes the folder and the name apart, the second confirms the file.
    click (dialog, { 300, 436 });
    runTool ({ "xdotool", "type", "--delay", "1", file.getFullPathName() });
    runTool ({ "xdotool", "key", "Return", "Return" });
}

//==============================================================================
Image ProgramFixture::capture (unsigned long window, const String& step)
{
    const auto file = scratch.getChildFile ("capture.png");
    runTool ({ "import", "-window", String (window), file.getFullPathName() });
    const auto image = ImageFileFormat::loadFrom (file);
    return step.isEmpty() ? image : keep (image, step);
}

Image ProgramFixture::keep (const Image& image, const String& step)
{
    FileOutputStream stream (artifacts.getChildFile (String (++stepNumber).paddedLeft ('0', 2) + "-" + step + ".png"));
    PNGImageFormat().writeImageToStream (image, stream);
    return image;
}

bool ProgramFixture::shows (const Image& window, Rectangle<int> area, const std::function<void (Graphics&)>& drawing)
{
    if (! window.getBounds().contains (area))
        return false;

    Image reference (Image::ARGB, window.getWidth(), window.getHeight(), true);
    Graphics g (reference);
    drawing (g);

    // Ink where the text covers at least half of a pixel: dark text (brightness about 0.2) over a
    // light ground (about 1) lies below their midpoint there. Anti-aliased edges differ by a
    // pixel here and there; another text differs in whole glyphs.
    int either = 0, onlyOne = 0;

    for (int y = area.getY(); y < area.getBottom(); ++y)
    {
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto shown = window.getPixelAt (x, y).getBrightness() < 0.61f;
            const auto expected = reference.getPixelAt (x, y).getFloatAlpha() > 0.5f;
            either += (shown || expected) ? 1 : 0;
            onlyOne += (shown != expected) ? 1 : 0;
        }
    }

    return either > 0 && (float) onlyOne < 0.2f * (float) either;
}

bool ProgramFixture::waitForText (Rectangle<int> area, const String& text, const String& step, int timeoutMs)
{
    if (labelTypeface == nullptr)
        labelTypeface = Typeface::createSystemTypefaceFor (BinaryData::temp_binary_data_1, (size_t) BinaryData::temp_binary_data_1Size);

    // As the program's large labels draw it: its embedded font at height 28, centred.
    Label label ({}, text);
    label.setFont (Font (labelTypeface).withHeight (28.0f));
    label.setJustificationType (Justification::centred);
    label.setBounds (area);

    Image shown;
    const auto seen = waitForProgram ([&]
    {
        shown = capture (mainWindow);
        return shows (shown, area, [&] (Graphics& g)
        {
            g.setOrigin (area.getPosition());
            label.getLookAndFeel().drawLabel (g, label);
        });
    }, timeoutMs);

    keep (shown, step);
    return seen;
}
