#pragma once

#include <functional>
#include <string>

// Diagnostic trace for developers. Discards everything by default; KIV_TRACE=1 in the
// environment sends the texts to standard error, and SetTraceSink routes them elsewhere.
// Trace texts never reach the download log or the user.

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink (an empty function turns tracing off again).
void SetTraceSink(std::function<void(const std::string&)> sink);

bool IsTraceEnabled();
