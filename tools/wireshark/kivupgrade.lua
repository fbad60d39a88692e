-- kivupgrade.lua: a Wireshark dissector for the protocols kivupgrade speaks with the router.
--
--   UDP 1280  32-byte records, one HDLC frame per datagram: discovery, erase NVRAM, enter and
--             leave force-load mode, ready probe, and the router's replies and echoes.
--   TCP 1280  the router transfer channel: 40-byte control packets (router image begin,
--             firmware begin, firmware force, the router's result), the router image data
--             that follows a router image begin, and the wireless module's DIAG and
--             downloader requests and answers, all HDLC framed.
--   TCP 23    Telnet (the router-module versions): left to Wireshark's own Telnet dissector.
--
-- Wireshark 4.0 or newer. For one run:
--   tshark -X lua_script:kivupgrade.lua -r upgrade.pcap
-- For good: copy this file into the personal Lua plugin folder (Help > About Wireshark >
-- Folders, "Personal Lua Plugins": ~/.local/lib/wireshark/plugins), or install the
-- kivupgrade-tools package, which puts it into the global one.
--
-- Filter examples: kivupgrade, kivupgrade.record_type == 10, kivupgrade.request ==
-- "block-write", kivupgrade.fcs.status == 0 (bad FCS), kivupgrade.answer == "nak".
-- Edit > Preferences > Protocols > KIVUPGRADE > Router port changes the port.

-- ---- loading ----------------------------------------------------------------------------------

local SOURCE = debug.getinfo(1, "S").source:gsub("^@", "")

-- A second copy (this file passed with -X lua_script while the packaged one is installed)
-- cannot register the protocol again: say which copy is not used instead of failing.
local created, proto = pcall(Proto, "kivupgrade", "KivUpgrade router protocols")
if not created then
    io.stderr:write("kivupgrade.lua: " .. SOURCE .. " not loaded: a dissector named kivupgrade is " ..
                        "already registered (another copy in a Wireshark plugin folder?)\n")
    return
end

if set_plugin_info then
    set_plugin_info({
        version = "1.0.0",
        description = "Router protocols of the kivupgrade firmware upgrade tool (UDP and TCP port 1280)",
    })
end

-- XOR of two non-negative integers: the bit library of the Lua Wireshark runs (bit32 in Lua
-- 5.2, Wireshark's own bit library, or the operator of Lua 5.3 and newer).
local bxor = (bit32 and bit32.bxor) or (bit and bit.bxor) or load("return function(a, b) return a ~ b end")()
local floor = math.floor

-- ---- protocol constants ---------------------------------------------------------------------

local DEFAULT_PORT = 1280
local FLAG = 0x7E
local ESCAPE = 0x7D
local FCS_GOOD_RESIDUE = 0xF0B8
local RECORD_LENGTH = 32
local CONTROL_LENGTH = 40
local CONTROL_MARK = 0xFF
local ROUTER_RESULT_OK = 4
-- Without a flag in this many bytes the bytes are no frame (the largest frame, a 4096-byte
-- block written with every byte stuffed, is 8212 bytes).
local MAX_BODY = 16384

local RECORD_TYPES = {
    [1] = "Discovery",
    [6] = "Erase NVRAM",
    [7] = "Enter force-load mode",
    [8] = "Leave force-load mode",
    [10] = "Ready probe",
}
local RECORD_NAMES = {
    [1] = "discovery",
    [6] = "erase-nvram",
    [7] = "enter-force-load",
    [8] = "leave-force-load",
    [10] = "ready-probe",
}

-- The 29-byte texts of the control packets, by kind.
local CONTROL_TEXTS = {
    [0] = "Varoni RUT Begin Download Pkt",
    [1] = "Varoni FWT Begin Download Pkt",
    [2] = "Varoni FWT Force Download Pkt",
}
local CONTROL_KINDS = {
    [0] = "Router image begin",
    [1] = "Firmware begin",
    [2] = "Firmware force",
    [255] = "Unknown",
}
local CONTROL_RUT_BEGIN = 0

local COMMANDS = {
    [0x02] = "Acknowledgement",
    [0x03] = "Refusal",
    [0x0A] = "Reset",
    [0x0B] = "Unlock",
    [0x0F] = "Block write",
    [0x13] = "Error",
    [0x14] = "Error",
    [0x15] = "Error",
    [0x18] = "Error",
    [0x26] = "NV read",
    [0x27] = "NV write",
    [0x29] = "Mode change",
    [0x3A] = "Switch to downloader",
    [0x4B] = "Subsystem command",
    [0xFF] = "Router control packet",
}
-- The module rejects a request by answering one of these codes and an echo of the request.
local ERROR_CODES = {
    [0x13] = "request rejected (0x13), not retried",
    [0x14] = "request rejected (0x14), not retried",
    [0x15] = "request rejected (0x15), not retried",
    [0x18] = "request rejected (0x18), retried",
}

local SUBSYSTEM_DIAG = 0xC9
local SUBSYSTEM_NV = 0xC8
-- Subsystem commands: subsystem id, 16-bit command (sent least significant byte first).
local SUBSYSTEM_COMMANDS = {
    {subsystem = SUBSYSTEM_DIAG, command = 0xFF03, name = "board-version", title = "Board version query",
     request = 4, answer = 66},
    {subsystem = SUBSYSTEM_DIAG, command = 0xFF24, name = "dashboard-version", title = "Dashboard version query",
     request = 36, answer = 260},
    {subsystem = SUBSYSTEM_NV, command = 0xFF1E, name = "nv-backup", title = "NV backup", request = 8, answer = 8},
    {subsystem = SUBSYSTEM_DIAG, command = 0xFF21, name = "nv-restore-status", title = "NV restore status query",
     request = 36, answer = 36},
}

local NV_BLOCK_LENGTH = 133
local NV_STATUS_OFFSET = 131
local HANDSHAKE_MAGIC = "\037\167\000\006" -- 25 A7 00 06: the value 0x0600A725
local HANDSHAKE_MIN_ANSWER = 16
local NV_STATUS = {
    [0] = "OK",
    [1] = "Internal DMSS use",
    [2] = "Unrecognizable command",
    [3] = "NV Memory is full",
    [4] = "Command failed",
    [5] = "Variable was not active (never written)",
    [6] = "Bad parameter in command block",
    [7] = "Item was read-only",
    [8] = "Item not defined for this target",
    [9] = "Free memory exhausted",
    [10] = "Internal use",
}
local BACKUP_RESULTS = {
    [0] = "success",
    [1] = "the board state is not correct",
    [2] = "no valid backup exists",
    [3] = "CRC check failed",
    [4] = "NV operation failed",
}
local BLOCK_HEADER_LENGTH = 7
local UNLOCK_LENGTH = 9
local VERSION_STOP = {[0x0D] = true, [0x0A] = true, [0x00] = true, [0xFF] = true}

-- ---- fields ---------------------------------------------------------------------------------

local FCS_STATUS = {[0] = "Bad", [1] = "Good"}
local YES_NO = {[0] = "no", [1] = "yes"}
local MODES = {[1] = "offline"}
local RESULTS = {[ROUTER_RESULT_OK] = "success"}
local DASHBOARD_VERSION_PRESENT = {[0] = "a version follows"}
local RESTORE_DONE = {[0] = "no backup to restore", [1] = "a restore took place"}
local RESTORE_STATUS = {[0] = "succeeded"}

local f = {
    record_type = ProtoField.uint8("kivupgrade.record_type", "Record type", base.DEC, RECORD_TYPES),
    ip = ProtoField.ipv4("kivupgrade.ip", "IPv4 address"),
    mac = ProtoField.ether("kivupgrade.mac", "MAC address"),
    text = ProtoField.string("kivupgrade.text", "Version text"),
    spare = ProtoField.uint8("kivupgrade.spare", "Last byte", base.HEX),

    request = ProtoField.string("kivupgrade.request", "Request"),
    answer = ProtoField.string("kivupgrade.answer", "Answer"),
    request_in = ProtoField.framenum("kivupgrade.request_in", "Request in", base.NONE,
                                     frametype and frametype.REQUEST),
    answer_in = ProtoField.framenum("kivupgrade.answer_in", "Answer in", base.NONE,
                                    frametype and frametype.RESPONSE),
    time = ProtoField.relative_time("kivupgrade.time", "Time since request"),

    frame = ProtoField.bytes("kivupgrade.frame", "HDLC frame", base.NONE),
    leading_flags = ProtoField.uint32("kivupgrade.leading_flags", "Leading flags", base.DEC),
    payload_length = ProtoField.uint16("kivupgrade.payload_length", "Payload length", base.DEC),
    fcs = ProtoField.uint16("kivupgrade.fcs", "FCS", base.HEX),
    fcs_status = ProtoField.uint8("kivupgrade.fcs.status", "FCS status", base.DEC, FCS_STATUS),
    flags = ProtoField.bytes("kivupgrade.flags", "Flag bytes", base.NONE),

    command = ProtoField.uint8("kivupgrade.command", "Command", base.HEX, COMMANDS),
    subsystem = ProtoField.uint8("kivupgrade.subsystem", "Subsystem", base.HEX),
    subsystem_command = ProtoField.uint16("kivupgrade.subsystem_command", "Subsystem command", base.HEX),

    control_text = ProtoField.string("kivupgrade.control.text", "Control text"),
    control_kind = ProtoField.uint8("kivupgrade.control.kind", "Control kind", base.DEC, CONTROL_KINDS),
    control_value = ProtoField.uint32("kivupgrade.control.value", "Value", base.DEC),
    control_rest = ProtoField.bytes("kivupgrade.control.rest", "Rest"),
    result = ProtoField.uint32("kivupgrade.result", "Router result", base.DEC, RESULTS),

    image_length = ProtoField.uint32("kivupgrade.image.length", "Router image length", base.DEC),
    image_offset = ProtoField.uint32("kivupgrade.image.offset", "Router image offset", base.DEC),
    image_data = ProtoField.bytes("kivupgrade.image.data", "Router image data"),

    block_address = ProtoField.uint32("kivupgrade.block.address", "Block address", base.HEX),
    block_length = ProtoField.uint16("kivupgrade.block.length", "Block length", base.DEC),
    block_data = ProtoField.bytes("kivupgrade.block.data", "Block data"),
    ack_address = ProtoField.uint32("kivupgrade.ack.address", "Acknowledged address", base.HEX),
    nak_reason = ProtoField.uint16("kivupgrade.nak.reason", "Refusal reason", base.HEX_DEC),
    error = ProtoField.uint8("kivupgrade.error", "Error code", base.HEX, ERROR_CODES),
    echo = ProtoField.bytes("kivupgrade.echo", "Echoed request"),
    unlock_code = ProtoField.string("kivupgrade.unlock_code", "Unlock code"),
    mode = ProtoField.uint8("kivupgrade.mode", "Mode", base.DEC, MODES),
    mode_rest = ProtoField.uint8("kivupgrade.mode.rest", "Third byte", base.HEX),

    nv_item = ProtoField.uint16("kivupgrade.nv.item", "NV item", base.DEC),
    nv_data = ProtoField.bytes("kivupgrade.nv.data", "NV item data"),
    nv_status = ProtoField.uint16("kivupgrade.nv.status", "NV status", base.DEC, NV_STATUS),
    handshake_magic = ProtoField.uint32("kivupgrade.handshake.magic", "Hand-shake magic", base.HEX),
    handshake_status = ProtoField.uint8("kivupgrade.handshake.status", "Hand-shake status", base.DEC),
    force_load = ProtoField.uint8("kivupgrade.handshake.force_load", "In the downloader (force-load)", base.DEC, YES_NO),
    offline = ProtoField.uint8("kivupgrade.handshake.offline", "Offline", base.DEC, YES_NO),

    version = ProtoField.string("kivupgrade.version", "Version"),
    version_present = ProtoField.uint8("kivupgrade.version.present", "Version present", base.DEC,
                                       DASHBOARD_VERSION_PRESENT),
    backup_flags = ProtoField.bytes("kivupgrade.backup.flags", "Restore flags"),
    backup_state = ProtoField.uint8("kivupgrade.backup.state", "State", base.DEC),
    backup_result = ProtoField.uint8("kivupgrade.backup.result", "Result", base.DEC, BACKUP_RESULTS),
    restore_done = ProtoField.uint8("kivupgrade.restore.done", "Restore", base.DEC, RESTORE_DONE),
    restore_status = ProtoField.uint8("kivupgrade.restore.status", "Restore status", base.DEC, RESTORE_STATUS),
    data = ProtoField.bytes("kivupgrade.data", "Data"),
}
local field_list = {}
for _, field in pairs(f) do
    field_list[#field_list + 1] = field
end
proto.fields = field_list

local e = {
    bad_fcs = ProtoExpert.new("kivupgrade.fcs.bad", "Bad FCS: the receiver drops this frame", expert.group.CHECKSUM,
                              expert.severity.ERROR),
    short_frame = ProtoExpert.new("kivupgrade.frame.short", "Frame body shorter than 3 bytes",
                                  expert.group.MALFORMED, expert.severity.ERROR),
    bad_escape = ProtoExpert.new("kivupgrade.frame.escape", "Escape byte 0x7D with nothing to escape",
                                 expert.group.MALFORMED, expert.severity.ERROR),
    flag_inside = ProtoExpert.new("kivupgrade.frame.flag", "Flag byte 0x7E inside a datagram's frame",
                                  expert.group.MALFORMED, expert.severity.ERROR),
    no_flag = ProtoExpert.new("kivupgrade.frame.unterminated", "No closing flag", expert.group.MALFORMED,
                              expert.severity.ERROR),
    truncated = ProtoExpert.new("kivupgrade.truncated", "Cut short in the capture", expert.group.MALFORMED,
                                expert.severity.ERROR),
    length = ProtoExpert.new("kivupgrade.length", "Unexpected length", expert.group.MALFORMED, expert.severity.WARN),
    unknown = ProtoExpert.new("kivupgrade.unknown", "Unknown message", expert.group.UNDECODED, expert.severity.WARN),
    refused = ProtoExpert.new("kivupgrade.refused", "Request refused", expert.group.RESPONSE_CODE,
                              expert.severity.NOTE),
    failed = ProtoExpert.new("kivupgrade.failed", "Operation failed", expert.group.RESPONSE_CODE,
                             expert.severity.NOTE),
    echo_differs = ProtoExpert.new("kivupgrade.echo.differs", "Echo differs from the request",
                                   expert.group.SEQUENCE, expert.severity.WARN),
}
proto.experts = {e.bad_fcs, e.short_frame, e.bad_escape, e.flag_inside, e.no_flag, e.truncated, e.length,
                 e.unknown, e.refused, e.failed, e.echo_differs}

local f_tcp_stream = Field.new("tcp.stream")

proto.prefs.port = Pref.uint("Router port", DEFAULT_PORT, "UDP and TCP port of the router (1280)")

-- ---- bytes ----------------------------------------------------------------------------------

-- Readers over a Lua string, offsets from 0 as on the wire.
local function u8(s, o) return s:byte(o + 1) end
local function le16(s, o) return s:byte(o + 1) + 256 * s:byte(o + 2) end
local function le32(s, o) return le16(s, o) + 65536 * le16(s, o + 2) end
local function be16(s, o) return 256 * s:byte(o + 1) + s:byte(o + 2) end
local function be32(s, o) return 65536 * be16(s, o) + be16(s, o + 2) end

-- CRC-16/X.25 (generator 0x8408 reflected, register from 0xFFFF) a byte at a time, with
-- tables only, no bit operation in the loop: XOR_TABLE[a * 256 + b] is a XOR b, and the
-- 256-entry table of this CRC is kept as its low and high bytes.
local XOR_TABLE, CRC_LOW, CRC_HIGH = {}, {}, {}
for a = 0, 255 do
    for b = 0, 255 do
        XOR_TABLE[a * 256 + b] = bxor(a, b)
    end
    local c = a
    for _ = 1, 8 do
        if c % 2 == 1 then
            c = bxor(floor(c / 2), 0x8408)
        else
            c = floor(c / 2)
        end
    end
    CRC_LOW[a], CRC_HIGH[a] = c % 256, floor(c / 256)
end

-- The CRC register after the bytes of `s`: new = (old >> 8) XOR table[(old XOR byte) & 0xFF].
local function crc_register(s)
    local low, high = 0xFF, 0xFF
    local byte, xor = string.byte, XOR_TABLE
    for i = 1, #s do
        local index = xor[low * 256 + byte(s, i)]
        low, high = xor[CRC_LOW[index] * 256 + high], CRC_HIGH[index]
    end
    return high * 256 + low
end

-- Undoes the byte stuffing of a frame body; also says whether the body ends in an escape
-- byte with nothing after it (an odd run of 0x7D at the end), which is left out.
local function unstuff(body)
    local dangling = #body:match("\125*$") % 2 == 1
    if dangling then body = body:sub(1, -2) end
    local clean = body:gsub("\125(.)", function(c) return string.char(bxor(c:byte(), 0x20)) end)
    return clean, dangling
end

-- A text from the wire as the Info column may show it: bytes outside printable ASCII as '.'.
local function printable(s)
    return (s:gsub("[^\32-\126]", "."))
end

-- Adds the text field `field` over `count` bytes at `offset` of the message (the bytes
-- decoded as ASCII by Wireshark); an empty text gets an empty value.
local function add_text(m, field, offset, count)
    if count > 0 then
        m.tree:add(field, m.tvb(offset, count))
    else
        m.tree:add(field, m.tvb(offset, 0), "")
    end
end

-- Text of `s` from offset `first` up to the first stop byte, looking no further than `limit`.
local function version_text(s, first, limit)
    local last = first
    while last < #s and last < limit and not VERSION_STOP[u8(s, last)] do
        last = last + 1
    end
    return s:sub(first + 1, last), last - first
end

local function time_between(later, earlier)
    local d = later - earlier
    if d < 0 then d = 0 end
    local secs = floor(d)
    return NSTime.new(secs, floor((d - secs) * 1e9))
end

-- ---- state across packets -------------------------------------------------------------------
-- Filled the first time a packet is dissected (in capture order), read every later time (a
-- click in the packet list dissects a packet again, in any order). The first time is not
-- always the first pass: a two-pass tshark without a read filter skips the TCP payload on
-- its first pass.
--   streams: per TCP stream, the requests not answered yet and the router image data still
--            expected from the tool;
--   calls:   the image data still expected when a piece of the stream began, by packet and
--            position, so a packet dissected again starts from the same state;
--   items:   per message, its request or answer record (for the links between them);
--   udp:     per tool socket, the last request of each record type.
local state

local function reset_state()
    state = {streams = {}, calls = {}, items = {}, udp = {}}
end
reset_state()
proto.init = reset_state

local function stream_state(id)
    local st = state.streams[id]
    if not st then
        st = {pending = {}, image = {remaining = 0, total = 0}}
        state.streams[id] = st
    end
    return st
end

-- ---- messages -------------------------------------------------------------------------------
-- A message is one frame's payload. `m` describes it while it is dissected:
--   m.s     the payload as a string; m.tvb its Tvb; m.tree the message's subtree
--   m.name  short name (filter value of kivupgrade.request or kivupgrade.answer)
--   m.info  text for the Info column
--   m.match for a request awaiting an answer: how an answer is recognised

local function add_expert(m, expert_field, text)
    m.tree:add_proto_expert_info(expert_field, text)
end

-- True when the payload holds at least `want` bytes; otherwise says so.
local function need(m, want)
    if #m.s >= want then return true end
    add_expert(m, e.length, string.format("%d bytes, at least %d expected", #m.s, want))
    if #m.s > 0 then m.tree:add(f.data, m.tvb()) end
    m.info = m.info .. " [short]"
    return false
end

local function expect_length(m, want)
    if #m.s ~= want then
        add_expert(m, e.length, string.format("%d bytes, %d expected", #m.s, want))
        m.info = m.info .. string.format(" [%d bytes, %d expected]", #m.s, want)
    end
end

local function find_subsystem(s)
    if #s < 4 then return nil end
    local subsystem, command = u8(s, 1), le16(s, 2)
    for _, c in ipairs(SUBSYSTEM_COMMANDS) do
        if c.subsystem == subsystem and c.command == command then return c end
    end
    return nil
end

local function subsystem_header(m)
    m.tree:add(f.subsystem, m.tvb(1, 1))
    m.tree:add_le(f.subsystem_command, m.tvb(2, 2))
end

-- Requests named by their first byte alone.
local ONE_BYTE_REQUESTS = {
    [0x27] = {"nv-write", "NV write"},
    [0x29] = {"change-mode", "Mode change"},
    [0x3A] = {"switch-to-downloader", "Switch to downloader"},
    [0x0B] = {"unlock", "Unlock"},
    [0x0A] = {"reset", "Reset"},
    [0x0F] = {"block-write", "Block write"},
}

-- Short name and title of a request payload, without dissecting it (for echoes in errors).
local function classify_request(s)
    local n = #s
    if n == 0 then return "empty", "Empty" end
    local b0 = u8(s, 0)
    if b0 == CONTROL_MARK then return "control-packet", "Control packet" end
    if b0 == 0x4B then
        local c = find_subsystem(s)
        if not c then return "subsystem", "Subsystem command" end
        if c.name == "nv-backup" and n > 4 and u8(s, 4) == 1 then return "nv-restore", "NV restore" end
        return c.name, c.title
    end
    if b0 == 0x26 then
        if n == 1 then return "unlock-preamble", "Unlock preamble" end
        if n >= 7 and s:sub(4, 7) == HANDSHAKE_MAGIC then return "hand-shake", "Hand-shake" end
        return "nv-read", "NV read"
    end
    local known = ONE_BYTE_REQUESTS[b0]
    if known then return known[1], known[2] end
    return "unknown", string.format("Unknown (0x%02X)", b0)
end

local function control_kind(s)
    local text = s:sub(2, 30)
    for kind, t in pairs(CONTROL_TEXTS) do
        if text == t then return kind end
    end
    return nil
end

-- Requests: from the tool to the router.

local function nv_block(m)
    m.tree:add_le(f.nv_item, m.tvb(1, 2))
    m.tree:add(f.nv_data, m.tvb(3, 128))
    m.tree:add_le(f.nv_status, m.tvb(NV_STATUS_OFFSET, 2))
end

local request_dissectors = {}

request_dissectors["control-packet"] = function(m)
    if not need(m, CONTROL_LENGTH) then return end
    expect_length(m, CONTROL_LENGTH)
    local kind = control_kind(m.s)
    m.tree:add(f.control_text, m.tvb(1, 29))
    m.tree:add(f.control_kind, m.tvb(1, 29), kind or 255):set_generated()
    local value = le32(m.s, 30)
    if kind == CONTROL_RUT_BEGIN then
        m.tree:add_le(f.image_length, m.tvb(30, 4))
        m.info = string.format("%s, length %d", CONTROL_TEXTS[kind], value)
        m.image_length = value
        m.match = {control = CONTROL_RUT_BEGIN}
    else
        m.tree:add_le(f.control_value, m.tvb(30, 4))
        if kind then
            m.info = string.format("%s, value %d", CONTROL_TEXTS[kind], value)
        else
            m.info = string.format("Control packet with an unknown text, value %d", value)
            add_expert(m, e.unknown, "Control packet with an unknown text")
        end
    end
    m.tree:add(f.control_rest, m.tvb(34, #m.s - 34))
end

local function subsystem_request(m)
    if not need(m, 4) then return end
    subsystem_header(m)
    local c = find_subsystem(m.s)
    if not c then
        add_expert(m, e.unknown, "Unknown subsystem command")
        if #m.s > 4 then m.tree:add(f.data, m.tvb(4)) end
        return
    end
    expect_length(m, c.request)
    m.match = {prefix = m.s:sub(1, 4)}
    if c.name == "nv-backup" and #m.s >= 6 then
        m.tree:add(f.backup_flags, m.tvb(4, 2))
    elseif #m.s > 4 then
        m.tree:add(f.data, m.tvb(4))
    end
end
request_dissectors["board-version"] = subsystem_request
request_dissectors["dashboard-version"] = subsystem_request
request_dissectors["nv-backup"] = subsystem_request
request_dissectors["nv-restore"] = subsystem_request
request_dissectors["nv-restore-status"] = subsystem_request
request_dissectors["subsystem"] = subsystem_request

request_dissectors["hand-shake"] = function(m)
    if not need(m, NV_BLOCK_LENGTH) then return end
    expect_length(m, NV_BLOCK_LENGTH)
    m.tree:add_le(f.nv_item, m.tvb(1, 2))
    m.tree:add_le(f.handshake_magic, m.tvb(3, 4))
    m.tree:add(f.nv_data, m.tvb(3, 128))
    m.tree:add_le(f.nv_status, m.tvb(NV_STATUS_OFFSET, 2))
    m.match = {prefix = m.s:sub(1, 4)}
end

local function nv_request(m)
    if not need(m, NV_BLOCK_LENGTH) then return end
    expect_length(m, NV_BLOCK_LENGTH)
    nv_block(m)
    m.info = string.format("%s, item %d", m.info, le16(m.s, 1))
    m.match = {prefix = m.s:sub(1, 3)}
end
request_dissectors["nv-read"] = nv_request
request_dissectors["nv-write"] = nv_request

request_dissectors["change-mode"] = function(m)
    if not need(m, 3) then return end
    expect_length(m, 3)
    m.tree:add(f.mode, m.tvb(1, 1))
    m.tree:add(f.mode_rest, m.tvb(2, 1))
    m.info = string.format("%s, mode %d%s", m.info, u8(m.s, 1), MODES[u8(m.s, 1)] and (" (" .. MODES[u8(m.s, 1)] .. ")") or "")
    m.match = {prefix = m.s:sub(1, 3)}
end

request_dissectors["switch-to-downloader"] = function(m)
    expect_length(m, 1)
    m.match = {prefix = m.s:sub(1, 1)}
end

request_dissectors["unlock-preamble"] = function(m)
    -- Sent ahead of an unlock; nothing answers it.
end

request_dissectors["unlock"] = function(m)
    if not need(m, UNLOCK_LENGTH) then return end
    expect_length(m, UNLOCK_LENGTH)
    m.tree:add(f.unlock_code, m.tvb(1, 8))
    m.info = string.format('%s, code "%s"', m.info, printable(m.s:sub(2, 9)))
    m.match = {ack = true}
end

request_dissectors["reset"] = function(m)
    expect_length(m, 1)
    m.match = {ack = true}
end

request_dissectors["block-write"] = function(m)
    if not need(m, BLOCK_HEADER_LENGTH) then return end
    local address, length = be32(m.s, 1), be16(m.s, 5)
    m.tree:add(f.block_address, m.tvb(1, 4))
    m.tree:add(f.block_length, m.tvb(5, 2))
    local data = #m.s - BLOCK_HEADER_LENGTH
    if data > 0 then m.tree:add(f.block_data, m.tvb(BLOCK_HEADER_LENGTH)) end
    if data ~= length then
        add_expert(m, e.length, string.format("%d data bytes, the header says %d", data, length))
        m.info = m.info .. string.format(" [%d data bytes]", data)
    end
    m.info = string.format("%s 0x%08X, %d bytes", m.info, address, length)
    m.match = {ack = true, address = m.s:sub(2, 5)}
end

request_dissectors["unknown"] = function(m)
    add_expert(m, e.unknown, "Unknown request")
    if #m.s > 1 then m.tree:add(f.data, m.tvb(1)) end
end

local function dissect_request(m)
    local name, title = classify_request(m.s)
    m.name, m.info = name, title .. " request"
    if name ~= "control-packet" then m.tree:add(f.command, m.tvb(0, 1)) end
    request_dissectors[name](m)
    m.tree:add(f.request, name):set_generated()
end

-- Answers: from the router to the tool.

local answer_dissectors = {}

answer_dissectors[CONTROL_MARK] = function(m)
    m.name, m.info = "router-result", "Router result"
    if not need(m, CONTROL_LENGTH) then return end
    expect_length(m, CONTROL_LENGTH)
    m.tree:add(f.control_text, m.tvb(1, 29))
    m.tree:add_le(f.result, m.tvb(30, 4))
    m.tree:add(f.control_rest, m.tvb(34, #m.s - 34))
    local value = le32(m.s, 30)
    if value == ROUTER_RESULT_OK then
        m.info = string.format("Router result %d (success)", value)
    else
        m.info = string.format("Router result %d (failure)", value)
        add_expert(m, e.failed, string.format("The router reports failure (%d)", value))
    end
    m.answers = {control = CONTROL_RUT_BEGIN}
end

answer_dissectors[0x02] = function(m)
    if #m.s >= 5 then
        m.name = "block-ack"
        m.tree:add(f.ack_address, m.tvb(1, 4))
        m.info = string.format("Acknowledgement 0x%08X", be32(m.s, 1))
        m.answers = {ack = true, address = m.s:sub(2, 5)}
        expect_length(m, 5)
    else
        m.name, m.info = "ack", "Acknowledgement"
        m.answers = {ack = true}
        if #m.s > 1 then
            m.tree:add(f.data, m.tvb(1))
            add_expert(m, e.length, string.format("%d bytes: neither a bare acknowledgement nor one with an address", #m.s))
        end
    end
end

answer_dissectors[0x03] = function(m)
    m.name, m.info = "nak", "Refusal"
    m.answers = {nak = true}
    if not need(m, 3) then return end
    expect_length(m, 3)
    m.tree:add(f.nak_reason, m.tvb(1, 2))
    m.info = string.format("Refusal, reason %d", be16(m.s, 1))
    add_expert(m, e.refused, string.format("Refused, reason %d", be16(m.s, 1)))
end

local function error_answer(m)
    local code = u8(m.s, 0)
    m.name = "error"
    m.tree:add(f.error, m.tvb(0, 1))
    local echo = m.s:sub(2)
    local _, title = classify_request(echo)
    if #echo > 0 then m.tree:add(f.echo, m.tvb(1)) end
    m.info = string.format("Error 0x%02X to %s", code, #echo > 0 and title or "an empty echo")
    m.answers = {echo = echo}
    add_expert(m, e.refused, string.format("The module rejects the request (0x%02X)", code))
end
answer_dissectors[0x13] = error_answer
answer_dissectors[0x14] = error_answer
answer_dissectors[0x15] = error_answer
answer_dissectors[0x18] = error_answer

answer_dissectors[0x4B] = function(m)
    m.name, m.info = "subsystem", "Subsystem answer"
    if not need(m, 4) then return end
    subsystem_header(m)
    m.answers = {prefix = m.s:sub(1, 4)}
    local c = find_subsystem(m.s)
    if not c then
        add_expert(m, e.unknown, "Unknown subsystem answer")
        if #m.s > 4 then m.tree:add(f.data, m.tvb(4)) end
        return
    end
    m.name, m.info = c.name, c.title .. " answer"
    expect_length(m, c.answer)
    if c.name == "board-version" then
        if not need(m, 5) then return end
        local text, n = version_text(m.s, 4, 35)
        add_text(m, f.version, 4, n)
        m.info = string.format('%s "%s"', m.info, printable(text))
    elseif c.name == "dashboard-version" then
        if not need(m, 5) then return end
        m.tree:add(f.version_present, m.tvb(4, 1))
        if u8(m.s, 4) == 0 and #m.s > 5 then
            local text, n = version_text(m.s, 5, 133)
            add_text(m, f.version, 5, n)
            m.info = string.format('%s "%s"', m.info, printable(text))
        else
            m.info = m.info .. ", no version"
        end
    elseif c.name == "nv-backup" then
        if not need(m, 7) then return end
        m.tree:add(f.backup_state, m.tvb(5, 1))
        m.tree:add(f.backup_result, m.tvb(6, 1))
        local state5, result = u8(m.s, 5), u8(m.s, 6)
        if state5 == 0 and result == 0 then
            m.info = m.info .. ", success"
        else
            m.info = string.format("%s, failure (%d, %d: %s)", m.info, state5, result, BACKUP_RESULTS[result] or "unknown")
            add_expert(m, e.failed, "NV backup or restore failed")
        end
    elseif c.name == "nv-restore-status" then
        if not need(m, 7) then return end
        m.tree:add(f.restore_done, m.tvb(5, 1))
        m.tree:add(f.restore_status, m.tvb(6, 1))
        local done, status = u8(m.s, 5), u8(m.s, 6)
        if done == 0 then
            m.info = m.info .. ", no backup to restore"
        elseif done == 1 and status == 0 then
            m.info = m.info .. ", restored"
        else
            m.info = string.format("%s, restore failed (%d, %d)", m.info, done, status)
            add_expert(m, e.failed, "The NV restore failed")
        end
    end
end

local function nv_answer(m)
    if not need(m, NV_BLOCK_LENGTH) then return end
    expect_length(m, NV_BLOCK_LENGTH)
    nv_block(m)
    local status = le16(m.s, NV_STATUS_OFFSET)
    m.info = string.format("%s, item %d, status %d (%s)", m.info, le16(m.s, 1), status, NV_STATUS[status] or "Unknown status")
    m.answers = {prefix = m.s:sub(1, 3)}
end

answer_dissectors[0x26] = function(m)
    if #m.s >= 7 and m.s:sub(4, 7) == HANDSHAKE_MAGIC then
        m.name, m.info = "hand-shake", "Hand-shake answer"
        m.answers = {prefix = m.s:sub(1, 4)}
        m.tree:add_le(f.nv_item, m.tvb(1, 2))
        m.tree:add_le(f.handshake_magic, m.tvb(3, 4))
        if #m.s < HANDSHAKE_MIN_ANSWER then
            add_expert(m, e.length, string.format("%d bytes: a hand-shake answer holds at least %d", #m.s,
                                                  HANDSHAKE_MIN_ANSWER))
            m.info = m.info .. " [too short]"
            return
        end
        m.tree:add(f.handshake_status, m.tvb(9, 1))
        m.tree:add(f.force_load, m.tvb(14, 1))
        m.tree:add(f.offline, m.tvb(15, 1))
        local status = u8(m.s, 9)
        m.info = string.format("%s, status %d, force-load %d, offline %d", m.info, status, u8(m.s, 14), u8(m.s, 15))
        if status ~= 0 then add_expert(m, e.failed, string.format("Hand-shake status %d", status)) end
        return
    end
    m.name, m.info = "nv-read", "NV read answer"
    nv_answer(m)
end

answer_dissectors[0x27] = function(m)
    m.name, m.info = "nv-write", "NV write answer"
    nv_answer(m)
end

answer_dissectors[0x29] = function(m)
    m.name, m.info = "change-mode", "Mode change answer"
    if not need(m, 3) then return end
    expect_length(m, 3)
    m.tree:add(f.mode, m.tvb(1, 1))
    m.tree:add(f.mode_rest, m.tvb(2, 1))
    m.info = string.format("%s, mode %d", m.info, u8(m.s, 1))
    m.answers = {prefix = m.s:sub(1, 3)}
end

answer_dissectors[0x3A] = function(m)
    m.name, m.info = "switch-to-downloader", "Switch to downloader answer"
    expect_length(m, 1)
    m.answers = {prefix = m.s:sub(1, 1)}
end

local function dissect_answer(m)
    local b0 = u8(m.s, 0)
    if b0 ~= CONTROL_MARK then m.tree:add(f.command, m.tvb(0, 1)) end
    local dissector = answer_dissectors[b0]
    if dissector then
        dissector(m)
    else
        m.name, m.info = "unknown", string.format("Unknown answer (0x%02X)", b0)
        add_expert(m, e.unknown, "Unknown answer")
        if #m.s > 1 then m.tree:add(f.data, m.tvb(1)) end
    end
    m.tree:add(f.answer, m.name):set_generated()
end

-- ---- requests and answers -------------------------------------------------------------------

-- Whether `answer` (its m.answers) answers the pending request `req` (its m.match).
local function answers(req, a)
    local want = req.match
    if a.control then return want.control == a.control end
    if want.control then return false end
    if a.nak then return true end
    if a.ack then
        if not want.ack then return false end
        return a.address == nil or want.address == nil or a.address == want.address
    end
    if a.echo then
        local n = math.min(#a.echo, #req.prefix_bytes)
        return n > 0 and a.echo:sub(1, n) == req.prefix_bytes:sub(1, n)
    end
    if a.prefix and want.prefix then
        return a.prefix:sub(1, #want.prefix) == want.prefix
    end
    return false
end

local MAX_PENDING = 64

-- First dissection: keeps a request that awaits an answer, or links an answer to the newest
-- request it answers. Returns the record stored for the message.
local function link_message(st, m, pinfo, is_request)
    if is_request then
        if not m.match then return nil end
        local rec = {frame = pinfo.number, time = pinfo.abs_ts, match = m.match, prefix_bytes = m.s:sub(1, 16)}
        table.insert(st.pending, rec)
        if #st.pending > MAX_PENDING then table.remove(st.pending, 1) end
        return rec
    end
    if not m.answers then return nil end
    for i = #st.pending, 1, -1 do
        local req = st.pending[i]
        if answers(req, m.answers) then
            table.remove(st.pending, i)
            req.answer_frame = pinfo.number
            return {request = req}
        end
    end
    return nil
end

local function show_links(tree, rec, pinfo)
    if not rec then return end
    if rec.answer_frame then
        tree:add(f.answer_in, rec.answer_frame):set_generated()
    end
    if rec.request then
        tree:add(f.request_in, rec.request.frame):set_generated()
        tree:add(f.time, time_between(pinfo.abs_ts, rec.request.time)):set_generated()
    end
end

-- ---- HDLC frames ----------------------------------------------------------------------------

-- Dissects the frame whose leading flags begin at `start`, whose body begins at `body` and
-- whose closing flag is at `close` (nil when there is none), and its payload with
-- `read_message`. Returns the message (m.s is nil when the body holds no payload).
local function dissect_frame(tvb, tree, start, body, close, read_message)
    local stop = close or tvb:len()
    local ftree = tree:add(f.frame, tvb(start, (close and close + 1 or stop) - start))
    ftree:set_text("HDLC frame")
    local m = {ftree = ftree, tree = ftree}
    if body > start then ftree:add(f.leading_flags, tvb(start, body - start), body - start) end
    local raw = stop > body and tvb:raw(body, stop - body) or ""
    local clean, bad_escape = unstuff(raw)
    if not close then ftree:add_proto_expert_info(e.no_flag) end
    if bad_escape then ftree:add_proto_expert_info(e.bad_escape) end
    if #clean < 3 then
        ftree:add_proto_expert_info(e.short_frame)
        m.info = "Short frame"
        ftree:append_text(string.format(": %d bytes, too short", #clean))
        return m
    end
    -- The unstuffed bytes: the frame's own bytes when nothing was stuffed.
    local ctvb
    if #clean == #raw then
        ctvb = tvb(body, #raw):tvb()
    else
        ctvb = ByteArray.new(clean, true):tvb("Unstuffed frame")
    end
    local length = #clean - 2
    m.s, m.tvb = clean:sub(1, length), ctvb(0, length):tvb()
    ftree:add(f.payload_length, ctvb(0, length), length):set_generated()
    m.tree = ftree:add(ctvb(0, length), "Message")
    read_message(m)
    m.tree:set_text(m.info)
    local good = crc_register(clean) == FCS_GOOD_RESIDUE
    ftree:add_le(f.fcs, ctvb(length, 2))
    local status = ftree:add(f.fcs_status, ctvb(length, 2), good and 1 or 0)
    status:set_generated()
    if not good then
        status:add_proto_expert_info(e.bad_fcs)
        m.info = m.info .. " [bad FCS]"
    end
    if close then ftree:add(f.flags, tvb(close, 1)):set_text("Closing flag") end
    ftree:append_text(string.format(", %s: %s", body > start and "leading flag" or "no leading flag", m.info))
    m.good = good
    return m
end

-- ---- UDP ------------------------------------------------------------------------------------

local function record_reader(to_router)
    return function(m)
        local s = m.s
        m.tree:add(f.record_type, m.tvb(0, 1))
        local rtype = u8(s, 0)
        m.rtype = rtype
        local title = RECORD_TYPES[rtype] or string.format("Record type %d", rtype)
        m.name = RECORD_NAMES[rtype] or "unknown"
        if #s ~= RECORD_LENGTH then
            add_expert(m, e.length, string.format("%d bytes, a record is %d", #s, RECORD_LENGTH))
        end
        if #s >= 5 then m.tree:add(f.ip, m.tvb(1, 4)) end
        if #s >= 11 then m.tree:add(f.mac, m.tvb(5, 6)) end
        local text = ""
        if #s > 11 then
            -- Up to the first zero byte; a discovery reply's text may fill the last byte too.
            text = s:sub(12, math.min(#s, RECORD_LENGTH)):match("^[^\0]*")
            add_text(m, f.text, 11, #text)
            if #s >= RECORD_LENGTH and 11 + #text < RECORD_LENGTH then m.tree:add(f.spare, m.tvb(31, 1)) end
        end
        if #s > RECORD_LENGTH then m.tree:add(f.data, m.tvb(RECORD_LENGTH)) end
        if not RECORD_TYPES[rtype] then add_expert(m, e.unknown, "Unknown record type") end
        if to_router then
            m.info = title .. " request"
        elseif rtype == 1 then
            m.info = "Discovery reply"
            if #s >= 11 then
                m.info = string.format('%s %d.%d.%d.%d %02X-%02X-%02X-%02X-%02X-%02X "%s"', m.info, u8(s, 1),
                                       u8(s, 2), u8(s, 3), u8(s, 4), u8(s, 5), u8(s, 6), u8(s, 7), u8(s, 8),
                                       u8(s, 9), u8(s, 10), printable(text))
            end
        else
            m.info = title .. " echo"
        end
        m.tree:add(to_router and f.request or f.answer, m.name):set_generated()
    end
end

-- First dissection: a request is kept as its tool socket's last of its type; a reply or echo is
-- linked to it.
local function link_record(pinfo, m, to_router)
    local tool = to_router and (tostring(pinfo.src) .. ":" .. pinfo.src_port) or
                     (tostring(pinfo.dst) .. ":" .. pinfo.dst_port)
    local sock = state.udp[tool]
    if not sock then
        sock = {}
        state.udp[tool] = sock
    end
    if to_router then
        local rec = {frame = pinfo.number, time = pinfo.abs_ts, s = m.s}
        sock[m.rtype] = rec
        return rec
    end
    local req = sock[m.rtype]
    if not req then return nil end
    req.answer_frame = req.answer_frame or pinfo.number
    return {request = req}
end

local function dissect_udp(tvb, pinfo, tree, port)
    local to_router = pinfo.dst_port == port
    local root = tree:add(proto, tvb())
    local n = tvb:len()
    if n == 0 then
        root:add_proto_expert_info(e.short_frame, "Empty datagram")
        pinfo.cols.info:set("Empty datagram")
        return 0
    end
    -- One datagram, one frame: a leading flag, the body, the closing flag.
    local body = (tvb(0, 1):uint() == FLAG) and 1 or 0
    local close = nil
    if n - 1 >= body and tvb(n - 1, 1):uint() == FLAG then close = n - 1 end
    local m = dissect_frame(tvb, root, 0, body, close, record_reader(to_router))
    local stop = close or n
    if stop > body and tvb:raw(body, stop - body):find("\126", 1, true) then
        m.ftree:add_proto_expert_info(e.flag_inside)
    end
    local truncated = n < tvb:reported_len()
    if truncated then root:add_proto_expert_info(e.truncated) end
    if m.s and not truncated then
        local key = "u" .. pinfo.number
        local rec = state.items[key]
        if rec == nil then
            rec = link_record(pinfo, m, to_router) or false
            state.items[key] = rec
        end
        if rec then
            show_links(m.tree, rec, pinfo)
            if rec.request and m.rtype ~= 1 and rec.request.s ~= m.s then
                m.tree:add_proto_expert_info(e.echo_differs,
                                             "The echo differs from the request: the tool counts the exchange as failed")
            end
        end
    end
    pinfo.cols.info:set(m.info)
    root:append_text(": " .. m.info)
    return n
end

-- ---- TCP ------------------------------------------------------------------------------------

-- Shows `count` bytes of router image data at `offset`; `img` is the image still expected.
local function image_piece(tvb, tree, offset, count, img)
    local first = img.total - img.remaining
    local item = tree:add(f.image_data, tvb(offset, count))
    item:set_text(string.format("Router image data: bytes %d to %d of %d", first, first + count - 1, img.total))
    item:add(f.image_offset, tvb(offset, count), first):set_generated()
    img.remaining = img.remaining - count
    local info = string.format("Router image data %d-%d of %d", first, first + count - 1, img.total)
    if img.remaining == 0 then info = info .. " (complete)" end
    return info
end

-- Offset of the first flag in [from, limit), searched in pieces of the raw bytes.
local function first_flag(tvb, from, limit)
    local stop = math.min(tvb:len(), limit)
    local pos = from
    while pos < stop do
        local chunk = math.min(4096, stop - pos)
        local at = tvb:raw(pos, chunk):find("\126", 1, true)
        if at then return pos + at - 1 end
        pos = pos + chunk
    end
    return nil
end

local function dissect_tcp(tvb, pinfo, tree, port, stream)
    local to_router = pinfo.dst_port == port
    local st = stream_state(stream)
    local read_message = to_router and dissect_request or dissect_answer
    local root = tree:add(proto, tvb())
    local n = tvb:len()
    local truncated = n < tvb:reported_len()
    local call = pinfo.number .. ":" .. tvb:offset()
    -- Router image data still expected where this piece of the stream begins.
    local saved = state.calls[call]
    local first_time = saved == nil
    if first_time then
        saved = {remaining = st.image.remaining, total = st.image.total}
        state.calls[call] = saved
    end
    local img = {remaining = saved.remaining, total = saved.total}
    local infos = {}
    local pos = 0
    while pos < n do
        if to_router and img.remaining > 0 then
            local count = math.min(img.remaining, n - pos)
            infos[#infos + 1] = image_piece(tvb, root, pos, count, img)
            pos = pos + count
        else
            local body = pos
            while body < n and tvb(body, 1):uint() == FLAG do
                body = body + 1
            end
            local close = body < n and first_flag(tvb, body, body + MAX_BODY + 1) or nil
            if body == n then
                -- Flags alone: the tool sends one before a hand-shake to restart the
                -- module's frame decoder.
                root:add(f.flags, tvb(pos, n - pos)):set_text(string.format("Flag bytes: %d", n - pos))
                infos[#infos + 1] = "Flag"
                pos = n
            elseif close then
                local m = dissect_frame(tvb, root, pos, body, close, read_message)
                infos[#infos + 1] = m.info
                if m.s then
                    local key = call .. ":" .. pos
                    local rec = state.items[key]
                    if rec == nil then
                        rec = link_message(st, m, pinfo, to_router) or false
                        state.items[key] = rec
                    end
                    if rec then show_links(m.tree, rec, pinfo) end
                    if to_router and m.image_length then
                        img.remaining, img.total = m.image_length, m.image_length
                    end
                end
                pos = close + 1
            elseif n - body > MAX_BODY then
                local item = root:add(f.data, tvb(pos, n - pos))
                item:add_proto_expert_info(e.no_flag, string.format("No flag within %d bytes: not a frame", MAX_BODY))
                infos[#infos + 1] = "Unframed bytes"
                pos = n
            elseif not truncated and pinfo.can_desegment > 0 then
                -- The frame goes on in the next segment: it is dissected where it ends.
                pinfo.desegment_offset = pos
                pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
                local head = unstuff(tvb:raw(body, math.min(16, n - body)))
                local title = to_router and (select(2, classify_request(head)) .. " request") or "Answer"
                root:add(f.data, tvb(pos, n - pos)):set_text(title .. ": frame continues in a later segment")
                infos[#infos + 1] = title .. ", continued"
                break
            else
                local m = dissect_frame(tvb, root, pos, body, nil, read_message)
                if truncated then m.ftree:add_proto_expert_info(e.truncated) end
                infos[#infos + 1] = m.info .. " [incomplete]"
                pos = n
            end
        end
    end
    if first_time then
        st.image.remaining, st.image.total = img.remaining, img.total
    end
    if #infos > 0 then
        local text = table.concat(infos, ", ")
        pinfo.cols.info:set(text)
        root:append_text(": " .. text)
    end
    return n
end

-- ---- registration ---------------------------------------------------------------------------

function proto.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "KIVUPGRADE"
    local port = proto.prefs.port
    local stream = f_tcp_stream()
    if stream then
        return dissect_tcp(tvb, pinfo, tree, port, tostring(stream.value))
    end
    return dissect_udp(tvb, pinfo, tree, port)
end

local registered_port

local function register_port(port)
    local udp, tcp = DissectorTable.get("udp.port"), DissectorTable.get("tcp.port")
    if registered_port then
        udp:remove(registered_port, proto)
        tcp:remove(registered_port, proto)
    end
    udp:add(port, proto)
    tcp:add(port, proto)
    registered_port = port
end

function proto.prefs_changed()
    if proto.prefs.port ~= registered_port then register_port(proto.prefs.port) end
end

register_port(DEFAULT_PORT)
