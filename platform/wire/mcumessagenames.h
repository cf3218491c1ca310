#ifndef MCUMESSAGENAMES_H
#define MCUMESSAGENAMES_H

// Names of the MCU protocol's messages, for logs and tools; null when a frame
// is none of ours. Plain C++.

#include "mcuframes.h"
#include "mcumessages.h"

inline const char *mcuInboundName(uint32_t kind, uint32_t msg, uint32_t p1)
{
    if (kind == MCU_FRAME_NORMAL) {
        switch (msg) {
        case MSG_M2A_CMD:
            return p1 == M2A_CMD_ACTIVITY ? "M2A_CMD_ACTIVITY" : p1 == M2A_CMD_EJECT ? "M2A_CMD_EJECT" : "MSG_M2A_CMD";
        case MSG_M2A_KEY_PRESSED: return "MSG_M2A_KEY_PRESSED";
        case MSG_M2A_GET_VERSION: return "MSG_M2A_GET_VERSION";
        case MSG_M2A_MCU_TYPE: return "MSG_M2A_MCU_TYPE";
        case MSG_M2A_UNHANDLED_335A: return "MSG_M2A_UNHANDLED_335A";
        case MSG_M2A_UNHANDLED_7101: return "MSG_M2A_UNHANDLED_7101";
        }
        return nullptr;
    }
    if (kind == MCU_FRAME_CAN)
        return "CAN";
    if (kind != MCU_FRAME_LONG)
        return nullptr;
    const int32_t id = int32_t(msg);
    if (id >= MSG_M2A_CONTROL_DATA_FIRST && id <= MSG_M2A_CONTROL_DATA_LAST)
        return "MSG_M2A_CONTROL_DATA";
    switch (id) {
    case MSG_M2A_MCU_TIME: return "MSG_M2A_MCU_TIME";
    case MSG_M2A_MCU_VERSION: return "MSG_M2A_MCU_VERSION";
    case MSG_M2A_KEY_STUDY: return "MSG_M2A_KEY_STUDY";
    case MSG_M2A_CONTROL_DATA: return "MSG_M2A_CONTROL_DATA";
    case MSG_M2A_RDS_TIME: return "MSG_M2A_RDS_TIME";
    case MSG_M2A_SIM_DATA: return "MSG_M2A_SIM_DATA";
    case MSG_M2A_MCM_DATA: return "MSG_M2A_MCM_DATA";
    case MSG_M2A_AUTO_TEST: return "MSG_M2A_AUTO_TEST";
    case MSG_M2A_UUID: return "MSG_M2A_UUID";
    }
    return nullptr;
}

inline const char *mcuOutboundName(uint32_t kind, uint32_t msg, uint32_t p1)
{
    if (kind == MCU_FRAME_NORMAL) {
        if (msg != MSG_A2M_CMD)
            return nullptr;
        switch (p1) {
        case A2M_CMD_CUR_SOURCE: return "A2M_CMD_CUR_SOURCE";
        case A2M_CMD_APP_READY: return "A2M_CMD_APP_READY";
        case A2M_CMD_EJECT_DISC: return "A2M_CMD_EJECT_DISC";
        case A2M_CMD_ACTIVITY_REPLY: return "A2M_CMD_ACTIVITY_REPLY";
        case A2M_CMD_KEY_STUDY: return "A2M_CMD_KEY_STUDY";
        case A2M_CMD_HEARTBEAT: return "A2M_CMD_HEARTBEAT";
        }
        return "MSG_A2M_CMD";
    }
    if (kind == MCU_FRAME_CAN)
        return "CAN";
    if (kind != MCU_FRAME_LONG)
        return nullptr;
    switch (msg) {
    case MSG_A2M_KEY_COLOR: return "MSG_A2M_KEY_COLOR";
    case MSG_A2M_HEARTBEAT_ONOFF: return "MSG_A2M_HEARTBEAT_ONOFF";
    case MSG_A2M_TIME_CLOCK: return "MSG_A2M_TIME_CLOCK";
    case MSG_A2M_MEDIA_PLAY_INFO: return "MSG_A2M_MEDIA_PLAY_INFO";
    case MSG_A2M_KEY_STUDY: return "MSG_A2M_KEY_STUDY";
    case MSG_A2M_VERSION_INFO: return "MSG_A2M_VERSION_INFO";
    }
    return nullptr;
}

#endif // MCUMESSAGENAMES_H
