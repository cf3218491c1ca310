#ifndef MCUFRAMES_H
#define MCUFRAMES_H

// Wire records of the MCU link. Words are native (little-endian on every
// target we build for) and never byte-swapped; payload layouts are per message.
// Plain C++ only: the transport, the simulator and the platform share it.

#include <cstdint>

enum McuFrameKind : uint32_t {
    MCU_FRAME_NORMAL = 1,
    MCU_FRAME_LONG = 2,
    MCU_FRAME_CAN = 3,
};

enum {
    MCU_NORMAL_MSG_SIZE = 16,
    MCU_LONG_HEADER_SIZE = 12,   // inbound long frame: kind, msg, len
    MCU_FRAME_MAX = 268,         // inbound long frame as handed on
    MCU_LONG_DATA_MAX = MCU_FRAME_MAX - MCU_LONG_HEADER_SIZE,
    MCU_SEND_FRAME_SIZE = 264,   // outbound long frame: kind, msg, 256 data bytes
    MCU_SEND_DATA_SIZE = MCU_SEND_FRAME_SIZE - 8,
    MCU_RECV_BUF_SIZE = 10240,
};

// Normal message, the same in both directions.
struct MCU_NORMAL_MSG_T {
    uint32_t kind;
    uint32_t msg;
    uint32_t p1;
    uint32_t p2;
};

// Inbound long frame as handed on: the frame's bytes, zero up to 268.
typedef struct tag_MCUSRV_TO_MAIN_APP_T {
    uint32_t kind;
    uint32_t msg;
    uint32_t len;   // whole frame, header included
    unsigned char data[MCU_LONG_DATA_MAX];
} MCUSRV_TO_MAIN_APP_T;

// Outbound long frame: always 264 bytes, no length word.
typedef struct tag_MAIN_APP_TO_MCUSRV_T {
    uint32_t kind;
    uint32_t msg;
    unsigned char data[MCU_SEND_DATA_SIZE];
} MAIN_APP_TO_MCUSRV_T;

// Steering-key learning data, handed to the UI-side controller by value.
struct MCU_STEER_KEY_STUDY_DATA {
    uint8_t byte1;
    uint8_t byte2;
    uint8_t byte3;
    uint8_t byte4;
    uint8_t byte5;
    uint8_t byte6;
    int32_t value1;
    int32_t value2;
    int32_t value3;
    int32_t value4;
    int32_t value5;
    int32_t value6;
};

static_assert(sizeof(MCU_NORMAL_MSG_T) == MCU_NORMAL_MSG_SIZE, "normal frame is 16 bytes");
static_assert(sizeof(tag_MCUSRV_TO_MAIN_APP_T) == MCU_FRAME_MAX, "inbound record is 268 bytes");
static_assert(sizeof(tag_MAIN_APP_TO_MCUSRV_T) == MCU_SEND_FRAME_SIZE, "outbound long frame is 264 bytes");

#endif // MCUFRAMES_H
