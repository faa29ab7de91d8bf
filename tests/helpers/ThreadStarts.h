#pragma once

/** Steers the threads that std::thread creates in this test binary (and only those: the
    framework's own threads and the USB library's are left alone), by standing in front of the
    system's pthread_create.
*/
namespace ThreadStarts
{
    /** The next std::thread fails to start, as when the system has no threads left. */
    void failNext();

    /** std::thread objects started from now on wait, before running their body, until release(). */
    void hold();
    void release();
}
