#pragma once

#include <functional>

/** Waits until the condition holds or timeoutMs has passed, and returns the condition's last
    value. On the message thread it keeps the message loop running in short slices meanwhile,
    so timers and asynchronous notifications go on; elsewhere it polls.
*/
bool waitFor (const std::function<bool()>& condition, int timeoutMs = 5000);
