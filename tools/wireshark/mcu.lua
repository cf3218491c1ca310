-- Wireshark dissector for captures of the MCU link (link-layer type USER0, 147),
-- as the launcher's flight recorder and `mcu-sim --pcap` write them.
--
--   wireshark -X lua_script:tools/wireshark/mcu.lua FILE
--   tshark -r FILE -X lua_script:tools/wireshark/mcu.lua -V
--
-- Every record: a 12-byte pseudo-header (direction, event, 2 reserved bytes,
-- CLOCK_MONOTONIC in ns little-endian), then the frame as it crossed the
-- link. Header words of a frame are little-endian; payload values that the
-- messages assemble from bytes are big-endian.
--
-- The ids below are those of the launcher's mcumessages.h, name for name; a
-- test checks that every enumerator there appears here with the same value.

-- Inbound normal messages (kind 1): msg, p1, p2.
local M2A_NORMAL = {
    MSG_M2A_CMD = 529,
    MSG_M2A_KEY_PRESSED = 13078,
    MSG_M2A_GET_VERSION = 13080,
    MSG_M2A_MCU_TYPE = 13144,
    MSG_M2A_UNHANDLED_335A = 13146,
    MSG_M2A_UNHANDLED_7101 = 28929,
}

-- Commands of MSG_M2A_CMD, in p1.
local M2A_CMD = {
    M2A_CMD_ACTIVITY = 13,
    M2A_CMD_EJECT = 47,
}

-- Inbound long messages (kind 2), compared as signed words.
local M2A_LONG = {
    MSG_M2A_MCU_TIME = 12,
    MSG_M2A_MCU_VERSION = 25,
    MSG_M2A_KEY_STUDY = 47,
    MSG_M2A_CONTROL_DATA = 57,
    MSG_M2A_CONTROL_DATA_FIRST = 64,
    MSG_M2A_CONTROL_DATA_LAST = 78,
    MSG_M2A_RDS_TIME = 82,
    MSG_M2A_SIM_DATA = 83,
    MSG_M2A_MCM_DATA = 84,
    MSG_M2A_AUTO_TEST = 112,
    MSG_M2A_UUID = 212,
}

-- Outbound normal message: every fixed command is MSG_A2M_CMD, command in p1.
local A2M_NORMAL = {
    MSG_A2M_CMD = 12,
}

local A2M_CMD = {
    A2M_CMD_CUR_SOURCE = 5,
    A2M_CMD_APP_READY = 17,
    A2M_CMD_EJECT_DISC = 140,
    A2M_CMD_ACTIVITY_REPLY = 186,
    A2M_CMD_KEY_STUDY = 189,
    A2M_CMD_HEARTBEAT = 190,
}

-- Outbound long messages (kind 2, 264 bytes, data from frame offset 8).
local A2M_LONG = {
    MSG_A2M_KEY_COLOR = 19,
    MSG_A2M_HEARTBEAT_ONOFF = 194,
    MSG_A2M_TIME_CLOCK = 195,
    MSG_A2M_MEDIA_PLAY_INFO = 196,
    MSG_A2M_KEY_STUDY = 201,
    MSG_A2M_VERSION_INFO = 205,
}

-- Fixed values inside outbound frames.
local A2M_VALUE = {
    A2M_APP_READY_STATE = 2,
    A2M_KEY_COLOR_LEAD0 = 4,
    A2M_KEY_COLOR_LEAD1 = 1,
    A2M_HEARTBEAT_ONOFF_LEAD0 = 3,
    A2M_HEARTBEAT_ONOFF_LEAD1 = 28,
    A2M_TIME_CLOCK_LEAD = 4,
}

local FRAME_NORMAL, FRAME_LONG, FRAME_CAN = 1, 2, 3
local PSEUDO_HEADER = 12
-- An MCU clock at or below this, or all ones, was never set; any other value
-- is a date up to 2106.
local MCU_TIME_UNSET_MAX = 15551999
local MCU_TIME_NEVER_WRITTEN = 0xFFFFFFFF

local function by_value(names)
    local t = {}
    for name, value in pairs(names) do
        t[value] = name
    end
    return t
end

local m2a_normal_name = by_value(M2A_NORMAL)
local m2a_cmd_name = by_value(M2A_CMD)
local m2a_long_name = by_value(M2A_LONG)
local a2m_normal_name = by_value(A2M_NORMAL)
local a2m_cmd_name = by_value(A2M_CMD)
local a2m_long_name = by_value(A2M_LONG)

local mcu = Proto("mcu", "MCU link")

local f = {
    dir = ProtoField.uint8("mcu.dir", "Direction", base.DEC,
        { [0] = "in (MCU service to launcher)", [1] = "out (launcher to MCU service)" }),
    event = ProtoField.uint8("mcu.event", "Event", base.DEC, { [0] = "frame", [1] = "link up", [2] = "link down" }),
    reserved = ProtoField.uint16("mcu.reserved", "Reserved", base.HEX),
    monotonic = ProtoField.uint64("mcu.monotonic", "Monotonic time (ns)", base.DEC),
    frame_length = ProtoField.uint32("mcu.frame_length", "Frame length on the wire", base.DEC),
    kind = ProtoField.uint32("mcu.kind", "Kind", base.DEC, { [1] = "normal", [2] = "long", [3] = "CAN" }),
    msg = ProtoField.uint32("mcu.msg", "Message", base.DEC),
    name = ProtoField.string("mcu.name", "Message name"),
    p1 = ProtoField.uint32("mcu.p1", "p1", base.DEC),
    p2 = ProtoField.uint32("mcu.p2", "p2", base.DEC),
    cmd = ProtoField.uint32("mcu.cmd", "Command", base.DEC),
    cmd_name = ProtoField.string("mcu.cmd_name", "Command name"),
    len = ProtoField.uint32("mcu.len", "len", base.DEC),
    data = ProtoField.bytes("mcu.data", "Data"),
    mcu_type = ProtoField.int16("mcu.mcu_type", "MCU type", base.DEC),
    tuner_type = ProtoField.int16("mcu.tuner_type", "Tuner type", base.DEC),
    mcu_time = ProtoField.uint32("mcu.mcu_time", "MCU clock (s since the epoch)", base.DEC),
    mcu_version = ProtoField.string("mcu.mcu_version", "MCU version"),
    study_byte = ProtoField.uint8("mcu.key_study.byte", "Key-study byte", base.DEC),
    study_value = ProtoField.uint16("mcu.key_study.value", "Key-study value", base.DEC),
    study_type = ProtoField.uint8("mcu.key_study.type", "Key-study command type", base.DEC),
    study_cmd_byte = ProtoField.uint32("mcu.key_study.learn", "Key-study learning byte", base.DEC),
    rds_hour = ProtoField.uint8("mcu.rds.hour", "RDS hour", base.DEC),
    rds_minute = ProtoField.uint8("mcu.rds.minute", "RDS minute", base.DEC),
    auto_test = ProtoField.uint8("mcu.auto_test.item", "Auto-test item", base.DEC),
    uuid = ProtoField.string("mcu.uuid", "UUID"),
    uuid_prefix = ProtoField.string("mcu.uuid.prefix", "UUID prefix"),
    uuid_number = ProtoField.uint32("mcu.uuid.number", "UUID number", base.DEC),
    source_id = ProtoField.uint32("mcu.source.id", "Source id", base.DEC),
    source_arg = ProtoField.uint32("mcu.source.arg", "Source argument", base.DEC),
    lead = ProtoField.bytes("mcu.lead", "Lead bytes"),
    color = ProtoField.uint8("mcu.key_color", "Key colour byte", base.DEC),
    heartbeat_on = ProtoField.uint8("mcu.heartbeat_on", "Heartbeat switch", base.DEC),
    clock = ProtoField.uint32("mcu.clock", "Clock (s since the epoch)", base.DEC),
    version_count = ProtoField.uint8("mcu.version.count", "Count of the bytes that follow", base.DEC),
    customer = ProtoField.string("mcu.version.customer", "Customer version"),
    sdk = ProtoField.string("mcu.version.sdk", "SDK version"),
    date = ProtoField.string("mcu.version.date", "Date version"),
}
mcu.fields = f

local e = {
    short = ProtoExpert.new("mcu.short", "Frame shorter than its layout", expert.group.MALFORMED, expert.severity.ERROR),
    layout = ProtoExpert.new("mcu.layout", "Payload breaks the message's layout", expert.group.MALFORMED,
        expert.severity.WARN),
    cut = ProtoExpert.new("mcu.cut", "Frame longer than the bytes kept", expert.group.UNDECODED, expert.severity.NOTE),
}
mcu.experts = e

-- Quoted, anything but printable ASCII escaped, so that a hostile text cannot
-- garble the Info column.
local function quoted(text)
    local escaped = text:gsub('[%c"\\\128-\255]', function(c)
        return string.format("\\x%02x", c:byte())
    end)
    return '"' .. escaped .. '"'
end

local function utc(seconds)
    return os.date("!%Y-%m-%d %H:%M:%S UTC", seconds)
end

-- Text from offset up to its NUL or the end of what was kept; returns the
-- range (nil when empty) and its bytes as they stand.
local function text_at(ft, offset, max)
    local last = math.min(ft:captured_len(), offset + max) - 1
    local n = 0
    while offset + n <= last and ft(offset + n, 1):uint() ~= 0 do
        n = n + 1
    end
    if n == 0 then
        return nil, ""
    end
    return ft(offset, n), ft(offset, n):raw()
end

local function add_text(tree, field, ft, offset, max)
    local range, text = text_at(ft, offset, max)
    if range then
        tree:add(field, range)
    else
        tree:add(field, ft(offset, 1), "")
    end
    return text
end

-- Payload decoders, one per message the launcher reads or writes. Each gets
-- the frame's tvb and the tree, and returns the text for the Info column.
local inbound_long = {}

inbound_long[M2A_LONG.MSG_M2A_MCU_TIME] = function(ft, tree)
    local item = tree:add(f.mcu_time, ft(13, 4))
    local v = ft(13, 4):uint()
    local unset = v <= MCU_TIME_UNSET_MAX or v == MCU_TIME_NEVER_WRITTEN
    item:append_text(" (" .. utc(v) .. (unset and ", never set" or "") .. ")")
    return string.format("%d (%s%s)", v, utc(v), unset and ", never set" or "")
end

inbound_long[M2A_LONG.MSG_M2A_MCU_VERSION] = function(ft, tree)
    return quoted(add_text(tree, f.mcu_version, ft, 13, 255))
end

inbound_long[M2A_LONG.MSG_M2A_KEY_STUDY] = function(ft, tree)
    local parts = {}
    for i = 0, 5 do
        tree:add(f.study_byte, ft(12 + i, 1))
        parts[#parts + 1] = tostring(ft(12 + i, 1):uint())
    end
    for i = 0, 5 do
        tree:add(f.study_value, ft(18 + 2 * i, 2))
        parts[#parts + 1] = tostring(ft(18 + 2 * i, 2):uint())
    end
    return table.concat(parts, " ")
end

inbound_long[M2A_LONG.MSG_M2A_RDS_TIME] = function(ft, tree)
    tree:add(f.rds_hour, ft(13, 1))
    tree:add(f.rds_minute, ft(14, 1))
    return string.format("%02d:%02d", ft(13, 1):uint(), ft(14, 1):uint())
end

inbound_long[M2A_LONG.MSG_M2A_AUTO_TEST] = function(ft, tree)
    tree:add(f.auto_test, ft(13, 1))
    return "item " .. ft(13, 1):uint()
end

inbound_long[M2A_LONG.MSG_M2A_UUID] = function(ft, tree)
    local _, prefix = text_at(ft, 13, 2)
    local number = ft(17, 4):uint()
    local uuid = prefix .. string.format("%014d", number)
    tree:add(f.uuid, ft(13, 8), uuid)
    add_text(tree, f.uuid_prefix, ft, 13, 2)
    tree:add(f.uuid_number, ft(17, 4))
    return uuid
end

-- Bytes each inbound long message needs, from the frame's start.
local inbound_long_size = {
    [M2A_LONG.MSG_M2A_MCU_TIME] = 17,
    [M2A_LONG.MSG_M2A_MCU_VERSION] = 14,
    [M2A_LONG.MSG_M2A_KEY_STUDY] = 30,
    [M2A_LONG.MSG_M2A_RDS_TIME] = 15,
    [M2A_LONG.MSG_M2A_AUTO_TEST] = 14,
    [M2A_LONG.MSG_M2A_UUID] = 21,
}

local function check(tree, ok, what)
    if not ok then
        tree:add_proto_expert_info(e.layout, what)
    end
end

local outbound_long = {}

outbound_long[A2M_LONG.MSG_A2M_KEY_COLOR] = function(ft, tree)
    tree:add(f.lead, ft(8, 2))
    check(tree, ft(8, 1):uint() == A2M_VALUE.A2M_KEY_COLOR_LEAD0 and ft(9, 1):uint() == A2M_VALUE.A2M_KEY_COLOR_LEAD1,
        "lead bytes are not 4 1")
    for i = 0, 2 do
        tree:add(f.color, ft(10 + i, 1))
    end
    return string.format("%d %d %d", ft(10, 1):uint(), ft(11, 1):uint(), ft(12, 1):uint())
end

outbound_long[A2M_LONG.MSG_A2M_HEARTBEAT_ONOFF] = function(ft, tree)
    tree:add(f.lead, ft(8, 2))
    check(tree, ft(8, 1):uint() == A2M_VALUE.A2M_HEARTBEAT_ONOFF_LEAD0
        and ft(9, 1):uint() == A2M_VALUE.A2M_HEARTBEAT_ONOFF_LEAD1, "lead bytes are not 3 28")
    tree:add(f.heartbeat_on, ft(10, 1))
    return tostring(ft(10, 1):uint())
end

outbound_long[A2M_LONG.MSG_A2M_TIME_CLOCK] = function(ft, tree)
    tree:add(f.lead, ft(8, 1))
    check(tree, ft(8, 1):uint() == A2M_VALUE.A2M_TIME_CLOCK_LEAD, "lead byte is not 4")
    local v = ft(9, 4):uint()
    tree:add(f.clock, ft(9, 4)):append_text(" (" .. utc(v) .. ")")
    return string.format("%d (%s)", v, utc(v))
end

-- The caller's bytes, zero after them: shown up to the last one that is not.
outbound_long[A2M_LONG.MSG_A2M_MEDIA_PLAY_INFO] = function(ft, tree)
    tree:add(f.data, ft(8, 256))
    local used = 256
    while used > 0 and ft(8 + used - 1, 1):uint() == 0 do
        used = used - 1
    end
    return used > 0 and "data " .. ft(8, used):bytes():tohex(true, " ") or "data (all zero)"
end

outbound_long[A2M_LONG.MSG_A2M_KEY_STUDY] = function(ft, tree)
    tree:add(f.study_type, ft(8, 1))
    check(tree, ft(8, 1):uint() == 1, "type is not 1")
    tree:add(f.study_cmd_byte, ft(9, 1))
    return string.format("type %d byte %d", ft(8, 1):uint(), ft(9, 1):uint())
end

-- count, c, C, s, S, 13, D (13 bytes), from frame offset 8.
outbound_long[A2M_LONG.MSG_A2M_VERSION_INFO] = function(ft, tree)
    tree:add(f.version_count, ft(8, 1))
    local c = ft(9, 1):uint()
    if 11 + c > 264 then
        check(tree, false, "customer text overruns the frame")
        return "(customer text overruns the frame)"
    end
    local s = ft(10 + c, 1):uint()
    if 12 + c + s + 13 > 264 then
        check(tree, false, "SDK text overruns the frame")
        return "(SDK text overruns the frame)"
    end
    local customer = c > 0 and ft(10, c):raw() or ""
    local sdk = s > 0 and ft(11 + c, s):raw() or ""
    if c > 0 then tree:add(f.customer, ft(10, c)) else tree:add(f.customer, ft(9, 1), "") end
    if s > 0 then tree:add(f.sdk, ft(11 + c, s)) else tree:add(f.sdk, ft(10 + c, 1), "") end
    check(tree, ft(11 + c + s, 1):uint() == 13, "date length is not 13")
    local date = add_text(tree, f.date, ft, 12 + c + s, 13)
    check(tree, ft(8, 1):uint() == (c + s + 16) % 256, "count byte disagrees with the texts")
    return "customer " .. quoted(customer) .. " sdk " .. quoted(sdk) .. " date " .. quoted(date)
end

-- msg, and its name where the catalogue has one.
local function add_msg(tree, ft, name)
    local item = tree:add_le(f.msg, ft(4, 4))
    if name then
        item:append_text(" (" .. name .. ")")
        tree:add(f.name, ft(4, 4), name)
    end
end

local function dissect_normal(ft, tree, inbound)
    local msg, p1, p2 = ft(4, 4):le_uint(), ft(8, 4):le_uint(), ft(12, 4):le_uint()
    local names, cmd_names, command = m2a_normal_name, m2a_cmd_name, M2A_NORMAL.MSG_M2A_CMD
    if not inbound then
        names, cmd_names, command = a2m_normal_name, a2m_cmd_name, A2M_NORMAL.MSG_A2M_CMD
    end
    local name = names[msg]
    add_msg(tree, ft, name)
    tree:add_le(f.p1, ft(8, 4))
    tree:add_le(f.p2, ft(12, 4))
    local shown = name or ("NORMAL " .. msg)
    if msg == command then
        local item = tree:add_le(f.cmd, ft(8, 4))
        if cmd_names[p1] then
            item:append_text(" (" .. cmd_names[p1] .. ")")
            tree:add(f.cmd_name, ft(8, 4), cmd_names[p1])
            shown = cmd_names[p1]
        end
    end
    if inbound and msg == M2A_NORMAL.MSG_M2A_MCU_TYPE then
        tree:add_le(f.mcu_type, ft(8, 2))
        tree:add_le(f.tuner_type, ft(12, 2))
    elseif not inbound and msg == command and p1 == A2M_CMD.A2M_CMD_CUR_SOURCE then
        tree:add(f.source_id, ft(12, 4), p2 % 65536)
        tree:add(f.source_arg, ft(12, 4), math.floor(p2 / 65536))
    elseif not inbound and msg == command and p1 == A2M_CMD.A2M_CMD_KEY_STUDY then
        tree:add_le(f.study_cmd_byte, ft(12, 4))
        check(tree, p2 <= 255, "p2 is not a byte")
    elseif not inbound and msg == command and p1 == A2M_CMD.A2M_CMD_APP_READY then
        check(tree, p2 == A2M_VALUE.A2M_APP_READY_STATE, "unexpected p2")
    end
    return string.format("%s p1=%d p2=%d", shown, p1, p2)
end

-- Inbound long and CAN frames: kind, msg, len, then len - 12 payload bytes.
local function dissect_inbound_long(ft, tree, kind)
    local n = ft:captured_len()
    local msg = ft(4, 4):le_uint()
    local name
    if kind == FRAME_LONG then
        name = m2a_long_name[msg]
        if msg >= M2A_LONG.MSG_M2A_CONTROL_DATA_FIRST and msg <= M2A_LONG.MSG_M2A_CONTROL_DATA_LAST then
            name = "MSG_M2A_CONTROL_DATA"
        end
    end
    add_msg(tree, ft, name)
    tree:add_le(f.len, ft(8, 4))
    local shown = name or string.format("%s msg %d", kind == FRAME_CAN and "CAN" or "LONG", msg)
    local decode = kind == FRAME_LONG and inbound_long[msg]
    if decode and n >= inbound_long_size[msg] then
        return shown .. " " .. decode(ft, tree)
    end
    if decode then
        tree:add_proto_expert_info(e.short)
    end
    if n > 12 then
        tree:add(f.data, ft(12, n - 12))
    end
    return shown .. " len=" .. ft(8, 4):le_uint()
end

-- Outbound long and CAN frames: kind, msg, 256 data bytes.
local function dissect_outbound_long(ft, tree, kind)
    local msg = ft(4, 4):le_uint()
    local name = kind == FRAME_LONG and a2m_long_name[msg] or nil
    add_msg(tree, ft, name)
    if ft:captured_len() < 264 then
        tree:add_proto_expert_info(e.short)
        return (name or "LONG") .. " (short)"
    end
    local decode = name and outbound_long[msg]
    if decode then
        return name .. " " .. decode(ft, tree)
    end
    tree:add(f.data, ft(8, 256))
    return string.format("%s msg %d", kind == FRAME_CAN and "CAN" or "LONG", msg)
end

local function dissect_frame(ft, tree, inbound)
    local n = ft:captured_len()
    if n < 4 then
        tree:add_proto_expert_info(e.short)
        return "shorter than a kind word"
    end
    tree:add_le(f.kind, ft(0, 4))
    local kind = ft(0, 4):le_uint()
    if kind == FRAME_NORMAL then
        if n < 16 then
            tree:add_proto_expert_info(e.short)
            return "NORMAL (short)"
        end
        return dissect_normal(ft, tree, inbound)
    end
    if n < (inbound and 12 or 8) then
        tree:add_proto_expert_info(e.short)
        return "kind " .. kind .. " (short)"
    end
    if kind ~= FRAME_LONG and kind ~= FRAME_CAN then
        -- The launcher drops inbound frames of other kinds; shown as they stand.
        tree:add_le(f.msg, ft(4, 4))
        return "UNKNOWN kind " .. kind
    end
    if inbound then
        return dissect_inbound_long(ft, tree, kind)
    end
    return dissect_outbound_long(ft, tree, kind)
end

function mcu.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "MCU"
    local root = tree:add(mcu, tvb())
    if tvb:captured_len() < PSEUDO_HEADER then
        root:add_proto_expert_info(e.short)
        return
    end
    local dir, event = tvb(0, 1):uint(), tvb(1, 1):uint()
    local inbound = dir == 0
    root:add(f.dir, tvb(0, 1))
    root:add(f.event, tvb(1, 1))
    root:add_le(f.reserved, tvb(2, 2))
    root:add_le(f.monotonic, tvb(4, 8))
    pinfo.cols.src = inbound and "MCU" or "launcher"
    pinfo.cols.dst = inbound and "launcher" or "MCU"

    if event ~= 0 then
        local what = event == 1 and "link up" or event == 2 and "link down" or ("event " .. event)
        local by = inbound and "MCU service side" or "launcher"
        root:append_text(", " .. what .. " (" .. by .. ")")
        pinfo.cols.info = what .. " (" .. by .. ")"
        return
    end

    local full = tvb:reported_len() - PSEUDO_HEADER
    root:add(f.frame_length, tvb(0, PSEUDO_HEADER), full):set_generated()
    if tvb:captured_len() == PSEUDO_HEADER then
        root:add_proto_expert_info(e.short)
        return
    end
    local ft = tvb(PSEUDO_HEADER):tvb()
    if ft:captured_len() < full then
        root:add_proto_expert_info(e.cut)
    end
    local summary = dissect_frame(ft, root, inbound)
    root:append_text(", " .. (inbound and "in" or "out") .. ": " .. summary)
    pinfo.cols.info = (inbound and "in  " or "out ") .. summary
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, mcu)
