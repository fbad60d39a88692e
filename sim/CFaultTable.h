#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The failures the simulator can be told to show, given on the command line as
// NAME or NAME=VALUE. Each fault has a default value used when none is given.
class CFaultTable {
public:
    struct Info {
        const char* name;
        const char* defaultValue; // "" when the fault takes no value
        const char* help;
    };

    // Every known fault, in the order --help lists them.
    static const std::vector<Info>& Known();

    // Adds one "NAME[=VALUE]" entry; false with a reason for an unknown name or bad value.
    bool Add(const std::string& spec, std::string& error);

    bool Has(const std::string& name) const;
    // The fault's value (its default when none was given), or an empty text when not set.
    std::string Text(const std::string& name) const;
    // True when the fault is set and its comma-separated value holds `item`.
    bool ListHas(const std::string& name, const std::string& item) const;
    // The fault's value as a number, `fallback` when not set or not a number.
    uint32_t Number(const std::string& name, uint32_t fallback) const;

    // One line per fault for the --help text.
    static std::string HelpText();

private:
    std::map<std::string, std::string> m_Active;
};
