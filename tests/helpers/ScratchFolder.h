#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>
#include <string>

/** A folder of one test's own, set as TMPDIR while it lives, so that the program's temporary file
    lands there too; made by mkdtemp, which never hands two tests running in parallel the same one.
    A testbed must exist before: its library reads TMPDIR once per process.
*/
struct ScratchFolder
{
    ScratchFolder()
    {
        auto pattern = (previousTmpDir + "/quendrix-test-XXXXXX").toStdString();

        if (::mkdtemp (pattern.data()) != nullptr)
        {
            folder = juce::File (pattern);
            ::setenv ("TMPDIR", pattern.c_str(), 1);
        }
    }

    ~ScratchFolder()
    {
        ::setenv ("TMPDIR", previousTmpDir.toRawUTF8(), 1);
        folder.deleteRecursively();
    }

    const juce::String previousTmpDir = juce::SystemStats::getEnvironmentVariable ("TMPDIR", "/tmp");
    juce::File folder;   // none where mkdtemp failed

    JUCE_DECLARE_NON_COPYABLE (ScratchFolder)
};
