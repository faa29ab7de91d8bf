#include "TestbedChildProcess.h"

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
/** What the child must load at its start: the sanitizer runtime, which must come first, and
    libX11, then the umockdev preload. A GUI child's framework would otherwise open libX11 itself
    and close it before the leak check at exit, and the library's lasting allocations would then
    be reported from an unknown module that no suppression can name.
*/
juce::String childPreloads()
{
    juce::StringArray preloads;

   #if defined (__SANITIZE_ADDRESS__)
    Dl_info info {};

    if (dladdr (reinterpret_cast<void*> (&__asan_init), &info) != 0 && info.dli_fname != nullptr
         && juce::String (info.dli_fname).contains ("libasan"))
        preloads.addArray ({ juce::String (info.dli_fname), "libX11.so.6" });
   #endif

    preloads.add ("libumockdev-preload.so.0");
    preloads.addTokens (juce::SystemStats::getEnvironmentVariable ("LD_PRELOAD", {}), ": ", {});
    preloads.removeEmptyStrings();
    preloads.removeDuplicates (false);
    return "LD_PRELOAD=" + preloads.joinIntoString (":");
}
}

TestbedChildProcess::~TestbedChildProcess()
{
    if (pid > 0)
    {
        ::kill (pid, SIGKILL);
        reap (true);
    }
}

bool TestbedChildProcess::start (const juce::String& program, const juce::StringArray& arguments)
{
    if (pid > 0 || juce::SystemStats::getEnvironmentVariable ("UMOCKDEV_DIR", {}).isEmpty())
    {
        ADD_FAILURE() << "a child needs a UsbTestbed and must not be started twice";
        return false;
    }

    // The arguments, then this process's environment with the preloads in front.
    std::vector<std::string> strings { program.toStdString() };

    for (auto& argument : arguments)
        strings.push_back (argument.toStdString());

    const auto argumentCount = strings.size();

    for (auto** entry = environ; *entry != nullptr; ++entry)
        if (! juce::String (*entry).startsWith ("LD_PRELOAD="))
            strings.push_back (*entry);

    strings.push_back (childPreloads().toStdString());

    std::vector<char*> pointers;

    for (auto& s : strings)
        pointers.push_back (s.data());

    pointers.insert (pointers.begin() + (std::ptrdiff_t) argumentCount, nullptr);
    pointers.push_back (nullptr);

    const auto outputPath = output.getFile().getFullPathName().toStdString();

    // Only the standard streams go over: a copy of one of this process's device files in the
    // child would keep that file open after the test has closed it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen (&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2 (&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np (&actions, STDERR_FILENO + 1);

    const auto result = posix_spawn (&pid, pointers[0], &actions, nullptr, pointers.data(), pointers.data() + argumentCount + 1);
    posix_spawn_file_actions_destroy (&actions);

    if (result != 0)
    {
        pid = -1;
        ADD_FAILURE() << "cannot start " << program << ": " << strerror (result);
    }

    exitCode = -1;
    return result == 0;
}

bool TestbedChildProcess::reap (bool block)
{
    int status = 0;
    const auto result = waitpid (pid, &status, block ? 0 : WNOHANG);

    if (result == 0)
        return false;

    exitCode = result == pid && WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    pid = -1;
    return true;
}
