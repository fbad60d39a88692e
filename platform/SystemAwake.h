#pragma once

#ifdef _WIN32

#include <string>

// Keeps Windows from sleeping for as long as the calling thread asks it to: the thread's
// execution state, "system required" and continuous. Windows drops it when the thread ends.

// Asks for the system to stay awake. False, with `why` set to a sentence, when Windows
// refused.
bool KeepSystemAwake(std::string& why);

// Withdraws the calling thread's request (nothing when it made none).
void AllowSystemSleep();

#endif
