#include "platform/SystemAwake.h"

#include <windows.h>

#include "platform/SystemError.h"

bool KeepSystemAwake(std::string& why)
{
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0)
        return true;
    why = "Windows refused to keep the system awake: " + SystemErrorText(GetLastError());
    return false;
}

// ES_CONTINUOUS alone clears the thread's continuous requirements.
void AllowSystemSleep() { SetThreadExecutionState(ES_CONTINUOUS); }
