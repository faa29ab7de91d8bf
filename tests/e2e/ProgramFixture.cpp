#include "ProgramFixture.h"
#include "helpers/WaitFor.h"

#include "BinaryData.h"

#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace juce;

const Rectangle<int> ProgramFixture::statusArea { 17, 85, 588, 46 };
const Rectangle<int> ProgramFixture::progressTextArea { 0, 136, 621, 46 };
const Rectangle<int> ProgramFixture::exportButtonArea { 124, 262, 174, 31 };
const Rectangle<int> ProgramFixture::importButtonArea { 323, 262, 174, 31 };

namespace
{
/** The framework's single-instance lock of the program: one file for the whole machine. */
File instanceLockFile()
{
    return File ("/var/tmp").getChildFile ("juceAppLock_" + String (ProgramFixture::programTitle));
}

/** The process holding the program's single-instance lock, or 0. */
pid_t instanceLockHolder()
{
    const auto fd = ::open (instanceLockFile().getFullPathName().toRawUTF8(), O_RDONLY);

    if (fd < 0)
        return 0;

    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    const auto holder = ::fcntl (fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK ? query.l_pid : 0;
    ::close (fd);
    return holder;
}

String regexForExactly (const String& text)
{
    String pattern ("^");

    for (auto c : text)
    {
        if (String ("\\^$.|?*+()[]{}").containsChar (c))
            pattern << '\\';

        pattern << c;
    }

    return pattern + "$";
}

/** Where the text covers at least half of a pixel: the labels' text colour (brightness 0.22)
    over the light background (about 1) gives a brightness below their midpoint there.
*/
bool isInk (Colour c)
{
    return c.getBrightness() < 0.61f;
}

/** How far the text's ink differs from the ink in the area: the pixels where only one of them
    has ink, over those where either has. 0 is the same drawing, 1 nothing in common.
*/
float inkDistance (const Image& window, Rectangle<int> area, const Image& reference)
{
    int either = 0, onlyOne = 0;

    for (int y = 0; y < area.getHeight(); ++y)
    {
        for (int x = 0; x < area.getWidth(); ++x)
        {
            const auto shown = isInk (window.getPixelAt (area.getX() + x, area.getY() + y));
            const auto expected = reference.getPixelAt (x, y).getFloatAlpha() > 0.5f;
            either += (shown || expected) ? 1 : 0;
            onlyOne += (shown != expected) ? 1 : 0;
        }
    }

    return either == 0 ? 0.0f : (float) onlyOne / (float) either;
}
}

//==============================================================================
void ProgramFixture::SetUp()
{
    ASSERT_TRUE (SystemStats::getEnvironmentVariable ("DISPLAY", {}).isNotEmpty()) << "run under an X server (xvfb-run)";

    desktop = std::make_unique<XDesktop>();
    ASSERT_TRUE (desktop->isConnected());

    // Another copy of the program anywhere on this machine would make ours quit at once.
    ASSERT_TRUE (waitFor ([] { return instanceLockHolder() == 0; }, 30000))
        << "the program already runs as process " << instanceLockHolder();

    // Before TMPDIR changes: the testbed's library reads it once per process.
    testbed = std::make_unique<UsbTestbed>();

    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    artifacts = File (QUENDRIX_TEST_ARTIFACT_DIR).getChildFile ("e2e")
                    .getChildFile (String (info->test_suite_name()) + "." + info->name());
    artifacts.deleteRecursively();
    ASSERT_TRUE (artifacts.createDirectory());

    if (const auto* previous = std::getenv ("TMPDIR"))
        previousTmpDir = previous;

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
    {
        EXPECT_TRUE (closeProgram()) << "exit code " << program->getExitCode();
    }

    if (program != nullptr && HasFailure())
        std::cout << "The program said:\n" << program->getOutput() << std::endl;

    // Program, pedal, testbed: the order libusb needs.
    program = nullptr;
    simulatedPedal = nullptr;
    testbed = nullptr;

    if (previousTmpDir.isNotEmpty())
        ::setenv ("TMPDIR", previousTmpDir.toRawUTF8(), 1);
    else
        ::unsetenv ("TMPDIR");

    scratch.deleteRecursively();
}

SimulatedPedal& ProgramFixture::pedal()
{
    if (simulatedPedal == nullptr)
        simulatedPedal = std::make_unique<SimulatedPedal> (*testbed);

    return *simulatedPedal;
}

void ProgramFixture::startProgram (const StringPairArray& extraEnvironment)
{
    program = std::make_unique<TestbedChildProcess>();
    ASSERT_TRUE (program->start (QUENDRIX_BINARY_PATH, {}, extraEnvironment));

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
    // The lock holder is the program itself, so no process id has to be kept.
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
    // Not the framework's ChildProcess: it closes its pipe twice, and the second close can hit
    // a file that another thread has opened meanwhile, such as the testbed's socket to the program.
    int pipeEnds[2];

    if (::pipe2 (pipeEnds, O_CLOEXEC) != 0)
    {
        ADD_FAILURE() << "no pipe for " << command[0];
        return {};
    }

    std::vector<std::string> argumentStrings;

    for (auto& argument : command)
        argumentStrings.push_back (argument.toStdString());

    std::vector<char*> argv;

    for (auto& argument : argumentStrings)
        argv.push_back (argument.data());

    argv.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np (&actions, STDERR_FILENO + 1);

    pid_t pid = -1;
    const auto spawned = ::posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);
    ::close (pipeEnds[1]);

    MemoryOutputStream output;

    if (spawned == 0)
    {
        char buffer[4096];

        for (ssize_t n; (n = ::read (pipeEnds[0], buffer, sizeof (buffer))) != 0;)
            if (n > 0)
                output.write (buffer, (size_t) n);
            else if (errno != EINTR)
                break;

        int status = 0;
        ::waitpid (pid, &status, 0);
    }
    else
    {
        ADD_FAILURE() << "cannot run " << command[0] << ": " << strerror (spawned);
    }

    ::close (pipeEnds[0]);
    return output.toString();
}

std::vector<unsigned long> ProgramFixture::findWindows (const String& title)
{
    std::vector<unsigned long> windows;

    for (auto& line : StringArray::fromLines (runTool ({ "xdotool", "search", "--onlyvisible", "--name", regexForExactly (title) })))
        if (line.trim().isNotEmpty())
            windows.push_back ((unsigned long) line.trim().getLargeIntValue());

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

Point<int> ProgramFixture::getScreenSize()
{
    const auto size = StringArray::fromTokens (runTool ({ "xdotool", "getdisplaygeometry" }), false);
    return { size[0].getIntValue(), size[1].getIntValue() };
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

void ProgramFixture::chooseFile (unsigned long window, Point<int> filenameBox, const File& file)
{
    click (window, filenameBox);
    runTool ({ "xdotool", "type", "--delay", "1", file.getFullPathName() });

    // The first Return takes the folder and the name apart, the second confirms the file.
    runTool ({ "xdotool", "key", "Return", "Return" });
}

//==============================================================================
Image ProgramFixture::capture (unsigned long window)
{
    const auto file = scratch.getChildFile ("capture.png");
    runTool ({ "import", "-window", String (window), file.getFullPathName() });
    return ImageFileFormat::loadFrom (file);
}

Image ProgramFixture::keepStep (unsigned long window, const String& step)
{
    return keep (capture (window), step);
}

Image ProgramFixture::keep (const Image& image, const String& step)
{
    const auto file = artifacts.getChildFile (String (++stepNumber).paddedLeft ('0', 2) + "-" + step + ".png");
    FileOutputStream stream (file);
    PNGImageFormat().writeImageToStream (image, stream);
    return image;
}

Image ProgramFixture::renderLabel (const String& text, Rectangle<int> area)
{
    if (labelTypeface == nullptr)
        labelTypeface = Typeface::createSystemTypefaceFor (BinaryData::temp_binary_data_1, (size_t) BinaryData::temp_binary_data_1Size);

    Label label ({}, text);
    label.setFont (Font (labelTypeface).withHeight (28.0f));
    label.setJustificationType (Justification::centred);
    label.setColour (Label::textColourId, Colours::black);
    label.setSize (area.getWidth(), area.getHeight());
    return label.createComponentSnapshot (label.getLocalBounds(), false);
}

String ProgramFixture::readText (const Image& window, Rectangle<int> area, const StringArray& candidates,
                                 const TextDrawing& drawing)
{
    // Anti-aliased edges differ by a pixel here and there; another text differs in whole glyphs.
    constexpr float sameDrawing = 0.2f;

    if (! window.getBounds().contains (area))
        return {};

    String best;
    auto bestDistance = sameDrawing;

    for (auto& text : candidates)
    {
        const auto distance = inkDistance (window, area, drawing != nullptr ? drawing (text, area) : renderLabel (text, area));

        if (distance < bestDistance)
        {
            best = text;
            bestDistance = distance;
        }
    }

    return best;
}

bool ProgramFixture::waitForText (Rectangle<int> area, const String& text, const String& step, int timeoutMs)
{
    Image shown;
    const auto seen = waitForProgram ([&]
    {
        shown = capture (mainWindow);
        return readText (shown, area, { text }) == text;
    }, timeoutMs);

    keep (shown, step);
    return seen;
}
