#include "TestbedChildProcess.h"
#include "helpers/WaitFor.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

#if defined (__SANITIZE_ADDRESS__)
extern "C" void __asan_init();
#endif

namespace
{
constexpr auto preloadLibrary = "libumockdev-preload.so.0";

/** What an instrumented child must load at its start: the sanitizer runtime, which must come
    first, and libX11. A GUI child's framework would otherwise open libX11 itself and close it
    before the leak check at exit, and the library's lasting allocations would then be reported
    from an unknown module that no suppression can name.
*/
juce::StringArray sanitizerPreloads()
{
   #if defined (__SANITIZE_ADDRESS__)
    Dl_info info {};

    if (dladdr (reinterpret_cast<void*> (&__asan_init), &info) != 0 && info.dli_fname != nullptr
         && juce::String (info.dli_fname).contains ("libasan"))
        return { juce::String (info.dli_fname), "libX11.so.6" };
   #endif

    return {};
}

juce::StringPairArray childEnvironment (const juce::StringPairArray& extra)
{
    juce::StringPairArray environment (false);

    for (auto** entry = environ; *entry != nullptr; ++entry)
    {
        const juce::String line (*entry);
        environment.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));
    }

    auto preloads = sanitizerPreloads();
    preloads.add (preloadLibrary);
    preloads.addTokens (environment["LD_PRELOAD"], ": ", {});
    preloads.removeEmptyStrings();
    preloads.removeDuplicates (false);
    environment.set ("LD_PRELOAD", preloads.joinIntoString (":"));

    environment.addArray (extra);
    return environment;
}
}

TestbedChildProcess::TestbedChildProcess() = default;

TestbedChildProcess::~TestbedChildProcess()
{
    kill();
}

bool TestbedChildProcess::start (const juce::String& program, const juce::StringArray& arguments,
                                 const juce::StringPairArray& extraEnvironment)
{
    if (pid > 0 || juce::SystemStats::getEnvironmentVariable ("UMOCKDEV_DIR", {}).isEmpty())
    {
        ADD_FAILURE() << "a child needs a UsbTestbed and must not be started twice";
        return false;
    }

    const auto environment = childEnvironment (extraEnvironment);

    std::vector<std::string> argumentStrings { program.toStdString() }, environmentStrings;

    for (auto& argument : arguments)
        argumentStrings.push_back (argument.toStdString());

    for (auto& key : environment.getAllKeys())
        environmentStrings.push_back ((key + "=" + environment[key]).toStdString());

    std::vector<char*> argv, envp;

    for (auto& s : argumentStrings)
        argv.push_back (s.data());

    for (auto& s : environmentStrings)
        envp.push_back (s.data());

    argv.push_back (nullptr);
    envp.push_back (nullptr);

    const auto outputPath = output.getFile().getFullPathName().toStdString();

    // Only the standard streams go over: a copy of one of this process's device files in the
    // child would keep that file open after the test has closed it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen (&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2 (&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np (&actions, STDERR_FILENO + 1);

    const auto result = posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy (&actions);

    if (result != 0)
    {
        pid = -1;
        ADD_FAILURE() << "cannot start " << program << ": " << strerror (result);
        return false;
    }

    exitCode = -1;
    killedBySignal = false;
    return true;
}

bool TestbedChildProcess::waitForExit (int timeoutMs)
{
    return waitFor ([this] { return ! isRunning(); }, timeoutMs);
}

bool TestbedChildProcess::isRunning()
{
    return pid > 0 && ! reap (false);
}

void TestbedChildProcess::kill()
{
    if (pid <= 0)
        return;

    ::kill (pid, SIGKILL);
    reap (true);
}

juce::String TestbedChildProcess::getOutput() const
{
    return output.getFile().loadFileAsString();
}

bool TestbedChildProcess::reap (bool block)
{
    int status = 0;
    const auto result = waitpid (pid, &status, block ? 0 : WNOHANG);

    if (result == 0)
        return false;

    if (result == pid)
    {
        exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
        killedBySignal = WIFSIGNALED (status);
    }

    pid = -1;
    return true;
}
