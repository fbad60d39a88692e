#include "tests/support/LogText.h"

#include <cctype>
#include <sstream>

namespace kivtest {

namespace {

constexpr size_t STAMP_LENGTH = 20; // "YYYY-MM-DD HH:MM:SS "

std::string WithoutCr(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

bool HasLogStamp(const std::string& line)
{
    if (line.size() < STAMP_LENGTH)
        return false;
    const char* shape = "dddd-dd-dd dd:dd:dd ";
    for (size_t i = 0; i < STAMP_LENGTH; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (shape[i] == 'd' ? !digit : line[i] != shape[i])
            return false;
    }
    return true;
}

std::string StripLogStamp(std::string line)
{
    line = WithoutCr(std::move(line));
    return HasLogStamp(line) ? line.substr(STAMP_LENGTH) : line;
}

std::vector<std::string> LogMessages(const std::string& text)
{
    std::vector<std::string> messages;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        messages.push_back(StripLogStamp(line));
    return messages;
}

std::string LogMessagesText(const std::string& text)
{
    std::string joined;
    for (const std::string& message : LogMessages(text))
        joined += message + "\n";
    return joined;
}

int CountLogMessages(const std::string& text, const std::string& message)
{
    int count = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line = WithoutCr(line);
        if (HasLogStamp(line) && line.compare(STAMP_LENGTH, std::string::npos, message) == 0)
            ++count;
    }
    return count;
}

} // namespace kivtest
