#ifndef MCUMESSAGES_H
#define MCUMESSAGES_H

// Message ids and command numbers of the MCU protocol. Plain C++ only: the MCU
// service simulator speaks the same catalogue.
//
// The two directions number their messages independently. Inbound normal ids
// are compared as unsigned words, inbound long ids as signed ones.

#include <cstdint>

// Inbound normal messages (kind 1): msg, p1, p2.
enum : uint32_t {
    MSG_M2A_CMD = 529,                 // p1 is one of M2A_CMD_*, p2 its argument
    MSG_M2A_KEY_PRESSED = 13078,       // p1 key, p2 state
    MSG_M2A_GET_VERSION = 13080,
    MSG_M2A_MCU_TYPE = 13144,          // p1 MCU type, p2 tuner type (low 16 bits, signed)
    // Sent by the MCU but meant for no one here: dropped, never forwarded.
    MSG_M2A_UNHANDLED_335A = 13146,
    MSG_M2A_UNHANDLED_7101 = 28929,
};

// Commands of MSG_M2A_CMD.
enum : uint32_t {
    M2A_CMD_ACTIVITY = 13,             // p2 goes to the activity manager
    M2A_CMD_EJECT = 47,
};

// Inbound long messages (kind 2); offsets are frame offsets.
enum : int32_t {
    MSG_M2A_MCU_TIME = 12,             // 13..16: seconds since the epoch, big-endian
    MSG_M2A_MCU_VERSION = 25,          // 13..: NUL-terminated text
    MSG_M2A_KEY_STUDY = 47,            // 12..29: steering-key learning data
    MSG_M2A_CONTROL_DATA = 57,         // whole record to the UI-side controller
    MSG_M2A_CONTROL_DATA_FIRST = 64,   // 64..78 likewise
    MSG_M2A_CONTROL_DATA_LAST = 78,
    MSG_M2A_RDS_TIME = 82,             // 13: hour, 14: minute, local time
    MSG_M2A_SIM_DATA = 83,
    MSG_M2A_MCM_DATA = 84,
    MSG_M2A_AUTO_TEST = 112,           // 13: item, 12..: data
    MSG_M2A_UUID = 212,                // 13..14: prefix, 17..20: number, big-endian
};

// Outbound normal message: every fixed command is msg MSG_A2M_CMD with the
// command number in p1 and its argument in p2.
enum : uint32_t {
    MSG_A2M_CMD = 12,
};

enum : uint32_t {
    A2M_CMD_CUR_SOURCE = 5,            // p2: (arg << 16) | (source id & 0xFFFF)
    A2M_CMD_APP_READY = 17,            // p2: A2M_APP_READY_STATE
    A2M_CMD_EJECT_DISC = 140,
    A2M_CMD_ACTIVITY_REPLY = 186,      // answers M2A_CMD_ACTIVITY
    A2M_CMD_KEY_STUDY = 189,           // p2: the learning byte
    A2M_CMD_HEARTBEAT = 190,
};

enum : uint32_t {
    A2M_APP_READY_STATE = 2,
};

// Outbound long messages (kind 2, 264 bytes, data from frame offset 8).
enum : uint32_t {
    MSG_A2M_KEY_COLOR = 19,            // 4, 1, then three colour bytes
    MSG_A2M_HEARTBEAT_ONOFF = 194,     // 3, 28, on/off
    MSG_A2M_TIME_CLOCK = 195,          // 4, then seconds since the epoch, big-endian
    MSG_A2M_MEDIA_PLAY_INFO = 196,     // caller's bytes
    MSG_A2M_KEY_STUDY = 201,           // the command type (1), the learning byte
    MSG_A2M_VERSION_INFO = 205,        // answers MSG_M2A_GET_VERSION
};

// Lead bytes of the fixed long payloads.
enum : unsigned char {
    A2M_KEY_COLOR_LEAD0 = 4,
    A2M_KEY_COLOR_LEAD1 = 1,
    A2M_HEARTBEAT_ONOFF_LEAD0 = 3,
    A2M_HEARTBEAT_ONOFF_LEAD1 = 28,
    A2M_TIME_CLOCK_LEAD = 4,
};

#endif // MCUMESSAGES_H
