#pragma once

// Reading the download log: every line is "YYYY-MM-DD HH:MM:SS " and the message, ending
// in CR LF.

#include <string>
#include <vector>

namespace kivtest {

// True when `line` starts with the time stamp (digits and separators in their places).
bool HasLogStamp(const std::string& line);

// The message of one line: without the stamp (when it has one) and without a trailing CR.
std::string StripLogStamp(std::string line);

// The message of every line of `text`, in order.
std::vector<std::string> LogMessages(const std::string& text);

// Every message of `text` joined with "\n" after each (convenient to compare whole).
std::string LogMessagesText(const std::string& text);

// How many stamped lines of `text` carry exactly `message`.
int CountLogMessages(const std::string& text, const std::string& message);

} // namespace kivtest
