#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The names of the payloads on the TCP channel, as the virtual router's transcript writes
// them and its faults take them: the module's requests ("hand-shake", "board-version",
// ..., "block-write"), the module's answers ("ack", "block-ack", "nak", "error"), the
// "unlock-preamble", the router's "control-packet", and "subsystem" (a subsystem command
// the module does not know), "empty" or "unknown" for anything else.
namespace DiagRequestName {

const char* Of(std::span<const uint8_t> payload);

// The names of the module's requests, those the module can be told to leave unanswered.
const std::vector<std::string>& ModuleRequests();

} // namespace DiagRequestName
