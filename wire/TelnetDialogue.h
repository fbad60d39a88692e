#pragma once

#include <cstdint>
#include <string>

// The router's Telnet dialogue, as the version check holds it and the virtual router
// answers it: the login, the prompts, the commands that read the router-module versions,
// and the option bytes of the Telnet protocol. Lines end in CR LF both ways.
namespace TelnetDialogue {

constexpr const char* LINE_END = "\r\n";

// The login: a prompt holding the mark, the user name, a prompt holding the mark again,
// the password, then the shell's prompt.
constexpr const char* LOGIN_PROMPT_MARK = ":";
constexpr const char* USER = "admin";
constexpr const char* PASSWORD = "tovex";

// The shell's prompt of each router family: family A's holds "#", family B's "QRX".
constexpr const char* PROMPT_FAMILY_A = "#";
constexpr const char* PROMPT_FAMILY_B = "QRX";

// Family A: "nvram get NAME" answers the value of NAME on a line of its own.
constexpr const char* NVRAM_GET = "nvram get ";
constexpr const char* NVRAM_BOOT_VERSION = "cfe_version";
constexpr const char* NVRAM_APP_VERSION = "app_version";
inline std::string NvramGet(const char* name) { return std::string(NVRAM_GET) + name; }

// Family B: the command's answer holds the version on a line that begins with the marker,
// and ends with a line holding the done mark.
constexpr const char* DISPLAY_VERSION = "diag display version";
constexpr const char* VERSION_MARKER = "software version: ";
constexpr const char* DISPLAY_VERSION_DONE = "success";

// Telnet commands (IAC, then a verb and an option) and the options the two ends name.
constexpr uint8_t IAC = 255;
constexpr uint8_t DONT = 254;
constexpr uint8_t DO = 253;
constexpr uint8_t WONT = 252;
constexpr uint8_t WILL = 251;
constexpr uint8_t SB = 250; // subnegotiation begins
constexpr uint8_t SE = 240; // subnegotiation ends
constexpr uint8_t OPT_ECHO = 1;
constexpr uint8_t OPT_SUPPRESS_GO_AHEAD = 3;
constexpr uint8_t OPT_TERMINAL_TYPE = 24;
constexpr uint8_t OPT_REMOTE_FLOW_CONTROL = 33;

} // namespace TelnetDialogue
