#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The failures the simulator can be told to show. The code asks for them by this
// enumeration only; names exist at the command line (NAME or NAME=VALUE), so a
// misspelt name is refused there instead of switching a fault off unseen.
enum class Fault : uint8_t {
    NoDiscovery,
    DiscoveryZeroMac,
    DiscoveryOtherType,
    DiscoveryNames,
    DiscoverySize,
    DiscoveryFlood,
    TelnetRefused,
    TelnetSilent,
    TelnetWrongPrompt,
    TelnetHang,
    TelnetNoConnect,
    RouterNoConnect,
    NakBlock,
    DropBlockAck,
    BareBlockAck,
    LateAck,
    CorruptFcs,
    DropFrame,
    ResetDuringBlock,
    ResetDuringData,
    ResultValue,
    NoResult,
    NoHandshake,
    UnlockRefused,
    SlowRestart,
    ModuleNotBack,
    StillInDownloader,
    NvRestoreFail,
    NoEraseEcho,
    NoForceLoadEcho,
    NoAnswer,
};

inline constexpr size_t FAULT_COUNT = static_cast<size_t>(Fault::NoAnswer) + 1;

class CFaultTable {
public:
    struct Info {
        Fault fault;
        const char* name;
        const char* defaultValue; // "" when the fault takes no value
        const char* help;
    };

    // Every fault, in the order of the enumeration (which is the order --help lists them).
    static const std::array<Info, FAULT_COUNT>& Known();
    static const Info& Describe(Fault fault);

    // How much longer than without it a sound tool may take over a whole upgrade because of
    // `fault` with `value` (scaled ms): what the router's side knows its fault costs, the
    // waits for answers it withholds and the tries they lead to, generously. A soak run that
    // takes longer than a few times its fault-free time plus its faults' delays is too slow.
    static uint64_t DelayMs(Fault fault, const std::string& value);

    // Adds one "NAME[=VALUE]" entry; false with a reason for an unknown name or bad value.
    bool Add(const std::string& spec, std::string& error);

    bool Has(Fault fault) const;
    // The fault's value (its default when none was given), or an empty text when not set.
    std::string Text(Fault fault) const;
    // True when the fault is set and its comma-separated value holds `item`.
    bool ListHas(Fault fault, const std::string& item) const;
    // The value of a fault that takes a number (its default when none was given); 0 when not set.
    uint32_t Number(Fault fault) const;
    // True when the fault is set and its number equals `count` (a "request number N" fault).
    bool HitsNumber(Fault fault, uint32_t count) const;

    // One line per fault for the --help text.
    static std::string HelpText();

private:
    struct Setting {
        std::string text;
        uint32_t number = 0;
    };
    std::array<std::optional<Setting>, FAULT_COUNT> m_Active;
};
